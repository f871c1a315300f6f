#include "acquisition/stable_weight.h"

#include <algorithm>
#include <cmath>

namespace tolvak {

namespace {

// Display values are decimal fractions held in binary: 12.51 - 12.50 is a hair above 0.01, so a
// tolerance of 0.01 must still take it. The slack is far below any display's last digit.
bool within(double a, double b, double tolerance) {
    const double slack = 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
    return std::fabs(a - b) <= tolerance + slack;
}

} // namespace

bool StableWeight::add(std::optional<double> value, Clock::time_point time) {
    const Clock::time_point start = time - m_window;
    while (!m_recent.empty() && m_recent.front().time < start)
        m_recent.pop_front();
    m_recent.push_back({time, value});
    if (!value || m_recent.size() < 2) return false;
    return std::all_of(m_recent.begin(), m_recent.end(), [&](const Entry& e) {
        return e.value && within(*e.value, *value, m_tolerance);
    });
}

} // namespace tolvak
