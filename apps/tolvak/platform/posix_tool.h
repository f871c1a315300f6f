#pragma once

#include "platform/posix/event_loop.h"
#include "platform/posix/unique_fd.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

// The tool's loop on an EventLoop of the Linux platform; stop() is a byte down a pipe it watches.
class PosixToolLoop : public ToolLoopOn<posix::EventLoop> {
  public:
    explicit PosixToolLoop(posix::EventLoop& loop);
    ~PosixToolLoop() override;
    void stop() override;

  private:
    posix::UniqueFd m_stopRead;
    posix::UniqueFd m_stopWrite;
    posix::EventLoop::Id m_watch;
};

// Writes to a descriptor without blocking.
LineWriter fdWriter(int fd);
// Reads from a descriptor without blocking. A pseudo-terminal's master with nobody on the other
// end fails its reads: that, like any failure, reads as nothing waiting.
LineReader fdReader(int fd);

} // namespace tolvak::cli
