#pragma once

#include "platform/posix/event_loop.h"
#include "tolvak/tool_platform.h"

namespace tolvak::cli {

// The tool's loop on an EventLoop of the Linux platform.
using PosixToolLoop = ToolLoopOn<posix::EventLoop>;

// Writes to a descriptor without blocking.
LineWriter fdWriter(int fd);

} // namespace tolvak::cli
