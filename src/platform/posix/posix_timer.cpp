#include "platform/posix/posix_timer.h"

namespace tolvak::posix {

void PosixTimer::setEnabled(bool enabled) {
    m_enabled = enabled;
    reschedule();
}

void PosixTimer::setInterval(int32_t milliseconds) {
    m_interval = milliseconds;
    reschedule();
}

// Like a window timer: any change of Enabled or Interval starts the period afresh.
void PosixTimer::reschedule() {
    cancel();
    if (!m_enabled || m_interval <= 0) return;
    m_timer = m_loop.startTimer(std::chrono::milliseconds(m_interval), [this] { raiseTick(); });
}

void PosixTimer::cancel() {
    if (m_timer) m_loop.stopTimer(*m_timer);
    m_timer.reset();
}

} // namespace tolvak::posix
