// The tool on Linux: the poll event loop, termios lines and pseudo-terminals, POSIX signals.
#include "tolvak/tool_platform.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/posix/line_discipline.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_timer.h"
#include "platform/posix/pseudo_terminal.h"
#include "platform/posix/serial_control_posix.h"
#include "tolvak/command.h"
#include "tolvak/demo.h"
#include "tolvak/posix_tool.h"

namespace tolvak::cli {

namespace {

// A loop of the tool's own: SIGINT and SIGTERM stop it.
class OwnLoop : public PosixToolLoop {
  public:
    OwnLoop() : PosixToolLoop(m_own) { m_own.stopOnSignals(); }

  private:
    posix::EventLoop m_own;
};

} // namespace

void prepareConsole() {}

std::unique_ptr<ToolLoop> makeLoop() {
    return std::make_unique<OwnLoop>();
}

std::unique_ptr<Tolvak> makeControl(ToolLoop& loop, std::unique_ptr<MsgBox> msgBox) {
    // Only this file makes the loops, so every loop here is one of ours.
    posix::EventLoop& events = static_cast<PosixToolLoop&>(loop).loop();
    return std::make_unique<Tolvak>(
        Platform{std::make_unique<posix::PosixSerialControl>(events),
                 std::make_unique<posix::PosixTimer>(events), std::move(msgBox),
                 std::make_unique<posix::PosixSockets>(), std::make_unique<ClockRandom>()});
}

std::unique_ptr<SocketsApi> makeSockets() {
    return std::make_unique<posix::PosixSockets>();
}

std::string defaultDeviceName(int port) {
    return "/dev/ttyS" + std::to_string(port - 1);
}

void onStopRequest(void (*handler)()) {
    for (int signo : {SIGINT, SIGTERM}) {
        if (!handler) {
            ::signal(signo, SIG_DFL);
            continue;
        }
        struct sigaction action {};
        action.sa_handler = reinterpret_cast<void (*)(int)>(handler);
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signo, &action, nullptr);
    }
}

LineWriter fdWriter(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    return [fd](std::string_view bytes) -> std::optional<size_t> {
        while (true) {
            ssize_t n = ::write(fd, bytes.data(), bytes.size());
            if (n >= 0) return static_cast<size_t>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            return std::nullopt;
        }
    };
}

FrameLine openFrameLine(const std::optional<std::string>& device, uint32_t baud) {
    FrameLine line;
    if (!device) {
        auto pty = std::make_shared<posix::PseudoTerminal>(posix::PseudoTerminal::open());
        line.write = fdWriter(pty->master());
        line.name = pty->slavePath();
        line.handle = pty;
        return line;
    }
    auto fd = std::make_shared<posix::UniqueFd>(
        ::open(device->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!*fd) throw std::system_error(errno, std::generic_category(), *device);
    if (::isatty(fd->get())) {
        SerialSettings settings;
        settings.baud = baud;
        if (int error = posix::applyLineSettings(fd->get(), settings))
            throw std::system_error(error, std::generic_category(), *device);
    }
    line.write = fdWriter(fd->get());
    line.handle = fd;
    return line;
}

const std::vector<Command>& platformCommands() {
    static const std::vector<Command> commands = {demoCommand()};
    return commands;
}

} // namespace tolvak::cli
