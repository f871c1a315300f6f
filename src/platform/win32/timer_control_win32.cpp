#include "platform/win32/timer_control_win32.h"

#include "platform/win32/win32_error.h"

namespace tolvak::win32 {

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TimerControlWin32::TimerControlWin32()
    : m_window([this](UINT message, WPARAM, LPARAM) {
          if (message == WM_TIMER && m_ticking) raiseTick();
      }) {}

TimerControlWin32::~TimerControlWin32() {
    if (m_ticking) KillTimer(m_window.hwnd(), kTimerId);
}

void TimerControlWin32::setEnabled(bool enabled) {
    m_enabled = enabled;
    update();
}

void TimerControlWin32::setInterval(int32_t milliseconds) {
    if (milliseconds < 0 || milliseconds > kMaxInterval) throw errors::invalidPropertyValue();
    m_interval = milliseconds;
    update();
}

// Setting the timer again restarts the count, as a timer control does on a new interval.
void TimerControlWin32::update() {
    bool wanted = m_enabled && m_interval > 0;
    if (!wanted) {
        if (m_ticking) KillTimer(m_window.hwnd(), kTimerId);
        m_ticking = false;
        return;
    }
    if (!SetTimer(m_window.hwnd(), kTimerId, static_cast<UINT>(m_interval), nullptr))
        throw fromWin32(GetLastError(), u"Timer1");
    m_ticking = true;
}

} // namespace tolvak::win32
