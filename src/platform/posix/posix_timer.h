#pragma once

#include <optional>

#include "control/timer_control.h"
#include "platform/posix/event_loop.h"

namespace tolvak::posix {

// Timer1 on the event loop: ticks while enabled with a non-zero interval.
class PosixTimer : public TimerControl {
  public:
    explicit PosixTimer(EventLoop& loop) : m_loop(loop) {}
    ~PosixTimer() override { cancel(); }

    void setEnabled(bool enabled) override;
    void setInterval(int32_t milliseconds) override;
    bool ticking() const { return m_timer.has_value(); }

  private:
    void reschedule();
    void cancel();

    EventLoop& m_loop;
    bool m_enabled = false;
    int32_t m_interval = 0;
    std::optional<EventLoop::Id> m_timer;
};

} // namespace tolvak::posix
