#pragma once

#include <iosfwd>
#include <memory>

#include "base/msg_box.h"
#include "control/tolvak.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

// Message boxes on the console: each one written to err (and counted in shown, when given), so
// that a failed OpenComm shows.
std::unique_ptr<MsgBox> consoleMsgBox(std::ostream& err, int* shown = nullptr);

// A control on this system: the serial port and Timer1 on this thread's event loop, message
// boxes on stderr.
struct ConsoleSession {
    explicit ConsoleSession(std::ostream& err);

    std::unique_ptr<ToolLoop> loop;
    std::unique_ptr<Tolvak> control;
};

} // namespace tolvak::cli
