// The Scale's loop on Windows: the control on the Win32 platform, whose serial port and Timer1
// post their events to windows of the thread that makes the scale; stop() through an event.
#include "api/scale_loop.h"
#include "platform/posix/console_msg_box.h"
#include "platform/win32/com_port.h"
#include "platform/win32/message_loop.h"
#include "platform/win32/serial_control_win32.h"
#include "platform/win32/sockets_win32.h"
#include "platform/win32/timer_control_win32.h"
#include "text/utf8.h"

namespace tolvak {

namespace {

class Win32ScaleLoop final : public ScaleLoop {
  public:
    Win32ScaleLoop() {
        auto serial = std::make_unique<win32::SerialControlWin32>();
        m_serial = serial.get();
        m_control = std::make_unique<Tolvak>(
            Platform{std::move(serial), std::make_unique<win32::TimerControlWin32>(),
                     std::make_unique<posix::ConsoleMsgBox>(posix::ConsoleMsgBox::Sink{}),
                     std::make_unique<win32::SocketsWin32>(), std::make_unique<ClockRandom>()});
    }

    Tolvak& control() override { return *m_control; }

    // The control opens COM ports by number: a device is a COM port's name ("COM3",
    // "\\.\COM12"), which names the number.
    void bindDevice(int16_t, const std::string& device) override {
        auto number = win32::comPortNumber(device);
        if (!number)
            throw AutomationError(errors::kInvalidPortNumber,
                                  fromUtf8(device + ": not a COM port name (COM3, \\\\.\\COM12)"));
        m_control->setPortNum(static_cast<int16_t>(*number));
    }
    void onPortLost(std::function<void(const AutomationError&)> callback) override {
        m_serial->setOnPortLost(std::move(callback));
    }
    void write(const std::string& bytes) override { m_serial->write(bytes); }

    void wait(std::optional<Clock::time_point> deadline) override {
        m_loop.resume();
        m_loop.waitOnce(deadline);
    }
    void poll() override { m_loop.processPending(); }
    void wake() noexcept override { m_loop.requestStop(); }

    // Everything the scale waits for comes as messages to its thread: a program's own loop
    // waits for those (MsgWaitForMultipleObjectsEx), there is no descriptor nor timer to give.
    std::vector<Scale::PollDescriptor> pollDescriptors() const override { return {}; }
    std::optional<Clock::time_point> nextDue() const override { return std::nullopt; }

  private:
    win32::MessageLoop m_loop;
    std::unique_ptr<Tolvak> m_control;
    win32::SerialControlWin32* m_serial = nullptr; // owned by m_control
};

} // namespace

std::unique_ptr<ScaleLoop> makeScaleLoop() {
    return std::make_unique<Win32ScaleLoop>();
}

} // namespace tolvak
