#pragma once

#include "platform/posix/event_loop.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

// The tool's loop on an EventLoop of the Linux platform.
using PosixToolLoop = ToolLoopOn<posix::EventLoop>;

// Writes to a descriptor without blocking.
LineWriter fdWriter(int fd);
// Reads from a descriptor without blocking. A pseudo-terminal's master with nobody on the other
// end fails its reads: that, like any failure, reads as nothing waiting.
LineReader fdReader(int fd);

} // namespace tolvak::cli
