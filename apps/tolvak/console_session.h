#pragma once

#include <iosfwd>
#include <memory>

#include "control/tolvak.h"
#include "tolvak/tool_platform.h"

namespace tolvak::cli {

// A control on this system: the serial port and Timer1 on this thread's event loop, message
// boxes on stderr.
struct ConsoleSession {
    explicit ConsoleSession(std::ostream& err);

    std::unique_ptr<ToolLoop> loop;
    std::unique_ptr<Tolvak> control;
};

} // namespace tolvak::cli
