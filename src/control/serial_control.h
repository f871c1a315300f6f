#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tolvak {

// What the control uses of its serial communications component (MSComm1). Every operation either
// succeeds or throws AutomationError with the component's number and description.
class SerialControl {
  public:
    static constexpr int16_t kEventReceive = 2; // CommEvent: characters received

    virtual ~SerialControl() = default;

    virtual void setCommPort(int16_t port) = 0;
    virtual void setSettings(const std::u16string& settings) = 0;
    virtual void setInBufferSize(int16_t size) = 0;
    // Writing 0 discards every character waiting to be read.
    virtual void setInBufferCount(int16_t count) = 0;
    // 0: one read of input() returns every waiting character.
    virtual void setInputLen(int16_t length) = 0;
    // Once this many characters or more wait, the receive event is raised with CommEvent 2.
    virtual void setRThreshold(int16_t threshold) = 0;
    virtual bool portOpen() = 0;
    virtual void setPortOpen(bool open) = 0;
    // The waiting characters, one byte per code unit, removed from the receive buffer.
    virtual std::u16string input() = 0;
    // During the receive event: the kind of event reported.
    virtual int16_t commEvent() = 0;

    // The control's OnComm handler. Backends call raiseOnComm() on the owning thread only.
    void setOnCommHandler(std::function<void()> handler) { m_onComm = std::move(handler); }

  protected:
    void raiseOnComm() {
        if (m_onComm) m_onComm();
    }

  private:
    std::function<void()> m_onComm;
};

} // namespace tolvak
