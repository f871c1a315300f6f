#pragma once

#include "control/timer_control.h"
#include "platform/win32/message_window.h"

namespace tolvak::win32 {

// Timer1 on SetTimer: ticks arrive as WM_TIMER on the thread that built it.
class TimerControlWin32 : public TimerControl {
  public:
    static constexpr int32_t kMaxInterval = 65535; // milliseconds, as a timer control accepts

    TimerControlWin32();
    ~TimerControlWin32() override;

    void setEnabled(bool enabled) override;
    void setInterval(int32_t milliseconds) override;

    bool ticking() const { return m_ticking; }

  private:
    void update();

    MessageWindow m_window;
    bool m_enabled = false;
    int32_t m_interval = 0;
    bool m_ticking = false;
};

} // namespace tolvak::win32
