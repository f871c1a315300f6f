#pragma once

#include <chrono>
#include <deque>
#include <optional>

namespace tolvak {

// Tells a standing weight from a moving one. A reading is stable when at least two readings,
// itself included, fall within the last window and every one of them is within the tolerance of
// it. A reading that is not a number is never stable and keeps the readings after it unstable
// until it has left the window: the scale showed something other than a weight.
class StableWeight {
  public:
    using Clock = std::chrono::steady_clock;

    // tolerance in display units.
    explicit StableWeight(std::chrono::milliseconds window = std::chrono::milliseconds(1000),
                          double tolerance = 0)
        : m_window(window), m_tolerance(tolerance) {}

    // Takes the next reading (times must not go backwards) and says whether it is stable.
    bool add(std::optional<double> value, Clock::time_point time);
    void reset() { m_recent.clear(); }

  private:
    struct Entry {
        Clock::time_point time;
        std::optional<double> value;
    };

    std::chrono::milliseconds m_window;
    double m_tolerance;
    std::deque<Entry> m_recent; // the readings within the window, oldest first
};

} // namespace tolvak
