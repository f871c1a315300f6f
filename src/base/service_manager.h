#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvak::service {

// What the service manager could not do, in words for the user.
class ServiceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A service that runs this program: the manager starts it at boot and again after a failure.
struct Definition {
    std::string name;        // the key for start, stop and uninstall: "Tolvak"
    std::string displayName; // what the list of services shows
    std::string description;
    std::vector<std::string> arguments; // this program's arguments when the manager runs it
};

struct Status {
    enum class State { stopped, starting, running, stopping, other };
    State state = State::other;
    uint32_t processId = 0;
    uint32_t exitCode = 0; // of the last run, once stopped: 0, or the program's exit status
    bool autoStart = false;
    std::string commandLine;
    std::string account; // what it runs as
};

// One implementation per system; where there is no service manager every call throws
// ServiceError saying so.
// What could not be set up as asked but does not stop the service from running comes back as
// warnings.
std::vector<std::string> install(const Definition& definition);
// Stops the service first when it runs.
void uninstall(const std::string& name);
// Both wait up to `wait` for the service to settle and return where it got to.
Status start(const std::string& name, std::chrono::seconds wait);
Status stop(const std::string& name, std::chrono::seconds wait);
// Nothing when no such service is installed.
std::optional<Status> query(const std::string& name);

// Runs body as the service `name` when the manager has started this process: tells the manager
// it runs, calls stop() from the manager's thread when asked to stop or the system shuts down,
// and reports body's result as the exit code. Throws ServiceError when the process was not
// started by the manager.
int run(const std::string& name, const std::function<int()>& body,
        const std::function<void()>& stop);

// The folder of the services' logs and tokens (%ProgramData%\Tolvak), which only SYSTEM,
// Administrators and the services themselves may change.
struct Folder {
    std::string path;
    std::shared_ptr<void> hold; // while held, the folder is not renamed or removed
};
std::string folderPath();
// For installing the service `name`: creates the folder with its own access list (SYSTEM and
// Administrators full control, each installed service modify, no one else; nothing inherited),
// or checks one found there as openFolder does and sets that list on it.
Folder prepareFolder(const std::string& name);
// The folder, refused (ServiceError, saying why) when it is a link or reached through one, or
// belongs to anyone but SYSTEM, Administrators or this process's own account: someone else made
// it, and could redirect or read what the service writes there.
Folder openFolder();
// Only SYSTEM, Administrators and the service `name` may read file, whatever its folder allows.
void keepForService(const std::string& file, const std::string& name);

} // namespace tolvak::service
