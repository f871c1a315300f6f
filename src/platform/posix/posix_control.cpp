#include "platform/posix/posix_control.h"

#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_timer.h"

namespace tolvak::posix {

namespace {

Platform makePlatform(EventLoop& loop, std::unique_ptr<MsgBox> msgBox,
                      std::unique_ptr<PosixSerialControl> serial) {
    if (!msgBox) msgBox = std::make_unique<ConsoleMsgBox>();
    return Platform{std::move(serial), std::make_unique<PosixTimer>(loop), std::move(msgBox),
                    std::make_unique<PosixSockets>(), std::make_unique<ClockRandom>()};
}

} // namespace

PosixControl::PosixControl(EventLoop& loop, std::unique_ptr<MsgBox> msgBox)
    : PosixControl(loop, std::move(msgBox), std::make_unique<PosixSerialControl>(loop)) {}

PosixControl::PosixControl(EventLoop& loop, std::unique_ptr<MsgBox> msgBox,
                           std::unique_ptr<PosixSerialControl> serial)
    : m_serial(*serial), m_control(std::make_unique<Tolvak>(
                             makePlatform(loop, std::move(msgBox), std::move(serial)))) {}

PosixControl::~PosixControl() {
    m_control->surface().setObserver(nullptr);
}

} // namespace tolvak::posix
