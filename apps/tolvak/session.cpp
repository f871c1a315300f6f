#include "tolvak/session.h"

#include "platform/posix/console_msg_box.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_timer.h"

namespace tolvak::cli {

Session::Session(BoxHandler onBox) {
    auto serialControl = std::make_unique<posix::PosixSerialControl>(loop);
    serial = serialControl.get();
    auto box = std::make_unique<posix::ConsoleMsgBox>(
        [this, onBox = std::move(onBox)](const std::string& title, const std::string& prompt,
                                         uint32_t) {
            ++boxes;
            onBox(title, prompt);
        });
    Platform platform{std::move(serialControl), std::make_unique<posix::PosixTimer>(loop),
                      std::move(box), std::make_unique<posix::PosixSockets>(),
                      std::make_unique<ClockRandom>()};
    control = std::make_unique<Tolvak>(std::move(platform));
}

Session::~Session() {
    control->surface().setObserver(nullptr);
}

} // namespace tolvak::cli
