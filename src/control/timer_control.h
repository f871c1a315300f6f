#pragma once

#include <cstdint>
#include <functional>

namespace tolvak {

// Timer1: ticks every interval milliseconds while enabled and the interval is not 0.
class TimerControl {
public:
    virtual ~TimerControl() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setInterval(int32_t milliseconds) = 0;

    // Backends call raiseTick() on the owning thread only.
    void setTickHandler(std::function<void()> handler) { m_tick = std::move(handler); }

protected:
    void raiseTick() {
        if (m_tick) m_tick();
    }

private:
    std::function<void()> m_tick;
};

} // namespace tolvak
