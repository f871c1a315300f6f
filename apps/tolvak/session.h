#pragma once

#include <functional>
#include <memory>
#include <string>

#include "control/tolvak.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/serial_control_posix.h"

namespace tolvak::cli {

// A control on the real platform: the serial port and Timer1 on this thread's event loop,
// message boxes handed to onBox (and counted, so that callers can tell that OpenComm failed).
struct Session {
    using BoxHandler = std::function<void(const std::string& title, const std::string& prompt)>;

    explicit Session(BoxHandler onBox);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    posix::EventLoop loop;
    posix::PosixSerialControl* serial = nullptr;
    int boxes = 0;
    std::unique_ptr<Tolvak> control;
};

} // namespace tolvak::cli
