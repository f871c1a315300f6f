#pragma once

#include <string>

#include "platform/posix/unique_fd.h"

namespace tolvak::posix {

// A fresh pseudo-terminal: the program holds the master side and hands the slave's path to
// whoever plays the serial port. The line is raw, so what is written arrives unchanged.
class PseudoTerminal {
  public:
    // Throws std::system_error when the system has no pseudo-terminal to give.
    static PseudoTerminal open();

    int master() const { return m_master.get(); }
    const std::string& slavePath() const { return m_slavePath; }
    // Closing the master hangs up the slave: readers see EIO and POLLHUP.
    void closeMaster() { m_master.reset(); }

  private:
    UniqueFd m_master;
    std::string m_slavePath;
};

} // namespace tolvak::posix
