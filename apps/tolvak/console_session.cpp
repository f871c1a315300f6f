#include "tolvak/console_session.h"

#include <ostream>
#include <string>

#include "platform/posix/console_msg_box.h"

namespace tolvak::cli {

ConsoleSession::ConsoleSession(std::ostream& err)
    : loop(makeLoop()),
      control(makeControl(
          *loop, std::make_unique<posix::ConsoleMsgBox>(
                     [&err](const std::string& title, const std::string& prompt, uint32_t) {
                         err << posix::formatMsgBox(title, prompt) << std::flush;
                     }))) {}

} // namespace tolvak::cli
