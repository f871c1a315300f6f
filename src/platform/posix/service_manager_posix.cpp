// Linux has no service manager of the Windows kind to drive from here: systemd runs `serve`
// from a unit file instead.
#include "base/service_manager.h"

namespace tolvak::service {

namespace {

[[noreturn]] void windowsOnly() {
    throw ServiceError("Windows services only: on Linux run 'tolvak serve' from a systemd unit");
}

} // namespace

std::vector<std::string> install(const Definition&) {
    windowsOnly();
}
void uninstall(const std::string&) {
    windowsOnly();
}
Status start(const std::string&, std::chrono::seconds) {
    windowsOnly();
}
Status stop(const std::string&, std::chrono::seconds) {
    windowsOnly();
}
std::optional<Status> query(const std::string&) {
    windowsOnly();
}
int run(const std::string&, const std::function<int()>&, const std::function<void()>&) {
    windowsOnly();
}
std::string folderPath() {
    windowsOnly();
}
Folder prepareFolder(const std::string&) {
    windowsOnly();
}
Folder openFolder() {
    windowsOnly();
}
void keepForService(const std::string&, const std::string&) {
    windowsOnly();
}

} // namespace tolvak::service
