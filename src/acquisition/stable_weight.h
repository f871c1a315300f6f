#pragma once

#include <chrono>
#include <deque>
#include <optional>

namespace tolvak {

// Tells a standing weight from a moving one. A reading is stable when the display has stayed
// within the tolerance of it for a whole window: every reading of the last window, and the one
// the display showed when the window began, is a number within tolerance. Until the history
// reaches back a whole window (after a reset, or a reading that is not a number) nothing is
// stable: a weight seen for a moment may still be moving.
class StableWeight {
  public:
    using Clock = std::chrono::steady_clock;

    // tolerance in display units.
    explicit StableWeight(std::chrono::milliseconds window = std::chrono::milliseconds(1000),
                          double tolerance = 0)
        : m_window(window), m_tolerance(tolerance) {}

    // Takes the next reading (times must not go backwards) and says whether it is stable.
    bool add(std::optional<double> value, Clock::time_point time);
    // The history is kept and judged under these from the next reading on.
    void setSettings(std::chrono::milliseconds window, double tolerance);
    void reset() { m_recent.clear(); }

  private:
    struct Entry {
        Clock::time_point time;
        std::optional<double> value;
    };

    std::chrono::milliseconds m_window;
    double m_tolerance;
    // Oldest first: the readings within the window, and before them the last one older.
    std::deque<Entry> m_recent;
};

} // namespace tolvak
