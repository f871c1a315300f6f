#include "platform/win32/win32_platform.h"

#include "platform/win32/msg_box_win32.h"
#include "platform/win32/serial_control_win32.h"
#include "platform/win32/sockets_win32.h"
#include "platform/win32/timer_control_win32.h"

namespace tolvak::win32 {

Platform makePlatform() {
    Platform platform;
    platform.serial = std::make_unique<SerialControlWin32>();
    platform.timer = std::make_unique<TimerControlWin32>();
    platform.msgBox = std::make_unique<MsgBoxWin32>();
    platform.sockets = std::make_unique<SocketsWin32>();
    platform.random = std::make_unique<ClockRandom>();
    return platform;
}

} // namespace tolvak::win32
