#include "tolvak/platform/console_session.h"

#include <ostream>
#include <string>

#include "platform/posix/console_msg_box.h"

namespace tolvak::cli {

std::unique_ptr<MsgBox> consoleMsgBox(std::ostream& err, int* shown) {
    return std::make_unique<posix::ConsoleMsgBox>(
        [&err, shown](const std::string& title, const std::string& prompt, uint32_t) {
            if (shown) ++*shown;
            err << posix::formatMsgBox(title, prompt) << std::flush;
        });
}

ConsoleSession::ConsoleSession(std::ostream& err)
    : loop(makeLoop()), control(makeControl(*loop, consoleMsgBox(err))) {}

} // namespace tolvak::cli
