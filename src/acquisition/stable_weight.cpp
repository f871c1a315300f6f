#include "acquisition/stable_weight.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace tolvak {

namespace {

// Display values are decimal fractions held in binary: 12.51 - 12.50 is a hair above 0.01, so a
// tolerance of 0.01 must still take it. The slack covers the rounding of the three numbers and
// nothing more, so it stays far below the last digit of any display a double can hold.
bool within(double a, double b, double tolerance) {
    const double slack = 4 * DBL_EPSILON * std::max({std::fabs(a), std::fabs(b), tolerance});
    return std::fabs(a - b) <= tolerance + slack;
}

} // namespace

void StableWeight::setSettings(std::chrono::milliseconds window, double tolerance) {
    m_window = window;
    m_tolerance = tolerance;
}

bool StableWeight::add(std::optional<double> value, Clock::time_point time) {
    const Clock::time_point start = time - m_window;
    // The newest reading at or before the window's start stands for the display then.
    while (m_recent.size() > 1 && m_recent[1].time <= start)
        m_recent.pop_front();
    const bool wholeWindow = !m_recent.empty() && m_recent.front().time <= start;
    m_recent.push_back({time, value});
    if (!value || !wholeWindow) return false;
    return std::all_of(m_recent.begin(), m_recent.end(), [&](const Entry& e) {
        return e.value && within(*e.value, *value, m_tolerance);
    });
}

} // namespace tolvak
