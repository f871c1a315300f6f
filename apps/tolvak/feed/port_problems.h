#pragma once

// What is wrong with a port, told to a person in English: why it did not open and what to do,
// and a line whose bytes read as no weight.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "tolvak/feed/port_status.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

struct OpenProblem {
    // Waiting will not help: the user must change something (a permission, the device named,
    // the settings, the program holding the port).
    bool lasting = false;
    std::string text; // "cannot open /dev/ttyUSB0: Permission denied (error 8010)"
    std::string hint; // what to do; empty when nothing is known
};
OpenProblem openProblem(const Error& error, const std::string& device);

// Watches whether what comes in reads as weights, a window of kAfter at a time. A window in which
// bytes came but no reading, or hardly any reading that can be right (a number, and not 0 from a
// frame with other digits in it), is a line set up wrong. Random bytes may now and then read as a
// number: a few good readings among many bad ones do not clear it.
class LineDoubt {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kAfter = std::chrono::seconds(3);

    // The port opened: watching starts afresh. bytes: all received so far.
    void restart(uint64_t bytes, Clock::time_point now);
    void reading(const Reading& reading);
    // At the end of a window: the diagnosis when it starts, "" when it ends; else none.
    std::optional<std::string> check(uint64_t bytes, Clock::time_point now,
                                     const std::string& device);

  private:
    Clock::time_point m_since{};
    uint64_t m_bytesBefore = 0;
    unsigned m_good = 0;
    unsigned m_doubtful = 0;
    bool m_said = false;
};

// What a command ("read") says on stderr when its port changes: a new diagnosis, the wait for a
// device, a lasting problem once with its fix. Only what changed since `said`, which it updates;
// connected and closed are the command's own to tell. True when the state changed.
bool sayPortChange(std::ostream& err, const std::string& command, const PortStatus& port,
                   PortStatus& said);

// What is said when bytes come but nothing reads.
std::string noReadingDiagnosis(const std::string& device);

} // namespace tolvak::cli
