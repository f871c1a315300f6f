#pragma once

#include <memory>

#include "control/tolvak.h"
#include "platform/posix/console_msg_box.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/serial_control_posix.h"

namespace tolvak::posix {

// A control on the Linux platform: the termios port and Timer1 on loop, message boxes to a
// console sink, the host's sockets, clock-seeded simulated readings.
class PosixControl {
  public:
    explicit PosixControl(EventLoop& loop, std::unique_ptr<MsgBox> msgBox = nullptr);
    PosixControl(const PosixControl&) = delete;
    PosixControl& operator=(const PosixControl&) = delete;
    ~PosixControl();

    Tolvak& control() { return *m_control; }
    Tolvak* operator->() { return m_control.get(); }
    PosixSerialControl& serial() { return m_serial; }

  private:
    PosixControl(EventLoop& loop, std::unique_ptr<MsgBox> msgBox,
                 std::unique_ptr<PosixSerialControl> serial);

    PosixSerialControl& m_serial; // owned by the control, which lives as long as this
    std::unique_ptr<Tolvak> m_control;
};

} // namespace tolvak::posix
