#pragma once

#include <string>
#include <utility>

#include "control/serial_control.h"
#include "control/timer_control.h"

namespace tolvak {

// A serial component with no port behind it: settings are taken and forgotten, the open state is
// kept, and feed() is one receive event whose input is exactly the characters given. For
// replaying captures, benchmarks and tests that drive the receive handler directly.
class NullSerialControl : public SerialControl {
  public:
    void setCommPort(int16_t) override {}
    void setSettings(const std::u16string&) override {}
    void setInBufferSize(int16_t) override {}
    void setInBufferCount(int16_t) override { m_waiting.clear(); }
    void setInputLen(int16_t) override {}
    void setRThreshold(int16_t) override {}
    bool portOpen() override { return m_open; }
    void setPortOpen(bool open) override { m_open = open; }
    std::u16string input() override { return std::exchange(m_waiting, {}); }
    int16_t commEvent() override { return m_event; }

    void feed(std::u16string chunk) {
        m_waiting = std::move(chunk);
        m_event = kEventReceive;
        raiseOnComm();
        m_event = 0;
    }

  private:
    std::u16string m_waiting;
    int16_t m_event = 0;
    bool m_open = false;
};

// Timer1 without a clock: it never ticks.
class NullTimer : public TimerControl {
  public:
    void setEnabled(bool) override {}
    void setInterval(int32_t) override {}
};

} // namespace tolvak
