#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <utility>

#include "base/automation_error.h"

namespace tolvak::cli {

// Shows the errors the control's receive handler reports (the text it puts into OutMsg, which the
// tool has no window for): a line on stderr, "tolvak read: receive error 6: Overflow", and with
// --json also a JSON line of its own among the readings. The same error (number and description)
// is shown at most once a second, so a setting that fails at every event cannot flood the output.
class ReceiveErrorReport {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kRepeatAfter = std::chrono::seconds(1);

    // json: where the JSON lines go; none without --json.
    ReceiveErrorReport(std::string command, std::ostream& err, std::ostream* json = nullptr,
                       std::function<Clock::time_point()> now = Clock::now);

    void show(const AutomationError& error);

  private:
    std::string m_command;
    std::ostream& m_err;
    std::ostream* m_json;
    std::function<Clock::time_point()> m_now;
    std::map<std::pair<int32_t, std::u16string>, Clock::time_point> m_lastShown;
};

} // namespace tolvak::cli
