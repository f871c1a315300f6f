// The tool on Linux: the poll event loop, termios lines and pseudo-terminals, POSIX signals.
#include "tolvak/platform/tool_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/posix/line_discipline.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_timer.h"
#include "platform/posix/pseudo_terminal.h"
#include "platform/posix/serial_control_posix.h"
#include "platform/posix/serial_ports.h"
#include "platform/posix/unique_fd.h"
#include "tolvak/platform/posix_tool.h"

namespace tolvak::cli {

namespace {

// A loop of the tool's own. The member is made before the base that watches it: held apart.
struct OwnEventLoop {
    posix::EventLoop m_own;
};
class OwnLoop : private OwnEventLoop, public PosixToolLoop {
  public:
    OwnLoop() : PosixToolLoop(m_own) {}
};

std::pair<posix::UniqueFd, posix::UniqueFd> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    return {posix::UniqueFd(fds[0]), posix::UniqueFd(fds[1])};
}

// Where the stop signals' handler writes: the watcher thread reads it.
int g_signalWrite = -1;

void onStopSignal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] auto n = ::write(g_signalWrite, &byte, 1);
    errno = saved;
}

} // namespace

PosixToolLoop::PosixToolLoop(posix::EventLoop& loop) : ToolLoopOn(loop) {
    std::tie(m_stopRead, m_stopWrite) = makePipe();
    m_watch = loop.watch(m_stopRead.get(), POLLIN, [this](short) {
        char bytes[16];
        while (::read(m_stopRead.get(), bytes, sizeof bytes) > 0) {
        }
        quit(0);
    });
}

PosixToolLoop::~PosixToolLoop() {
    loop().unwatch(m_watch);
}

void PosixToolLoop::stop() {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(m_stopWrite.get(), &byte, 1);
}

void watchStopRequests(void (*request)(int signo)) {
    auto [read, write] = makePipe();
    g_signalWrite = write.release();
    // Blocking reads for the watcher thread; the handler's writes never block on one byte.
    ::fcntl(read.get(), F_SETFL, ::fcntl(read.get(), F_GETFL) & ~O_NONBLOCK);
    std::thread([fd = read.release(), request] {
        unsigned char signo = 0;
        while (::read(fd, &signo, 1) == 1)
            request(signo);
    }).detach();
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGINT, SIGTERM})
        ::sigaction(signo, &action, nullptr);
}

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

PortTrouble portTrouble(const std::error_code& code) {
    // errno values, whichever category carries them.
    if (code.category() != std::system_category() && code.category() != std::generic_category())
        return PortTrouble::unknown;
    switch (code.value()) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return PortTrouble::missing;
    case EACCES:
    case EPERM:
        return PortTrouble::denied;
    case ENOTTY:
    case ENOTDIR:
    case EISDIR:
        return PortTrouble::notSerial;
    case EINVAL:
        return PortTrouble::settings;
    case EBUSY:
        return PortTrouble::busy;
    default:
        return PortTrouble::unknown;
    }
}

std::string systemMessage(const std::error_code& code) {
    return code.message();
}

int32_t controlErrorNumber(const std::error_code& code) {
    return posix::fromErrno(code.value(), "").number();
}

std::string permissionHint(const std::string& device) {
    // Serial devices belong to a group; a service runs as an account of its own.
    const std::string group = posix::groupThatMayOpen(device);
    if (group.empty())
        return "only its owner may open it: change its permissions, or run as its owner";
    return "add your user to the " + group + " group (sudo usermod -aG " + group +
           " $USER) and log in again; for the service, the account it runs as";
}

LineReader fdReader(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    return [fd](char* buffer, size_t size) -> size_t {
        ssize_t n;
        do
            n = ::read(fd, buffer, size);
        while (n < 0 && errno == EINTR);
        return n > 0 ? static_cast<size_t>(n) : 0;
    };
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
        line.read = fdReader(pty->master());
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
    line.read = fdReader(fd->get());
    line.handle = fd;
    return line;
}

namespace {

// Each listening period stops here, so a line that never pauses cannot fill the memory.
constexpr size_t kListenLimit = 1 << 20;

// The port, held for the whole search; each setting is listened to for a while.
class Listener {
  public:
    Listener(const std::string& path, std::chrono::milliseconds time) : m_path(path), m_time(time) {
        m_fd.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!m_fd) fail(errno);
        if (!::isatty(m_fd.get())) fail(ENOTTY);
        if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) fail(errno == EWOULDBLOCK ? EBUSY : errno);
    }

    LineCapture operator()(const SerialSettings& line) {
        if (int error = posix::applyLineSettings(m_fd.get(), line)) fail(error);
        if (int error = posix::markReceiveErrors(m_fd.get())) fail(error);
        posix::discardInput(m_fd.get());
        std::string marked;
        const auto end = std::chrono::steady_clock::now() + m_time;
        while (marked.size() < kListenLimit) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{m_fd.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) < 0) {
                if (errno == EINTR) continue;
                fail(errno);
            }
            char buffer[4096];
            const ssize_t n = ::read(m_fd.get(), buffer, sizeof buffer);
            if (n > 0)
                marked.append(buffer, static_cast<size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                fail(n == 0 ? EIO : errno); // the device went away
        }
        return unmarkErrors(marked);
    }

  private:
    [[noreturn]] void fail(int error) {
        throw std::system_error(error, std::generic_category(), m_path);
    }

    std::string m_path;
    std::chrono::milliseconds m_time;
    posix::UniqueFd m_fd;
};

} // namespace

LineListener openLineListener(const std::string& device, std::chrono::milliseconds time) {
    return [listener = std::make_shared<Listener>(device, time)](const SerialSettings& line) {
        return (*listener)(line);
    };
}

std::optional<int> inheritedListener() {
    const char* pid = std::getenv("LISTEN_PID");
    const char* count = std::getenv("LISTEN_FDS");
    if (!pid || !count || std::to_string(::getpid()) != pid) return std::nullopt;
    const std::string given = count;
    // Ours alone: a program serve starts must not take them for its own.
    for (const char* name : {"LISTEN_PID", "LISTEN_FDS", "LISTEN_FDNAMES"})
        ::unsetenv(name);
    if (given != "1")
        throw std::runtime_error(
            "systemd handed over " + given +
            " sockets; serve takes one (one ListenStream= in the socket unit)");
    constexpr int kFirst = 3; // SD_LISTEN_FDS_START
    int listening = 0;
    socklen_t size = sizeof listening;
    if (::getsockopt(kFirst, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening)
        throw std::runtime_error("what systemd handed over is not a listening socket");
    ::fcntl(kFirst, F_SETFD, FD_CLOEXEC);
    return kFirst;
}

void claimListenAddress(std::intptr_t socket) {
    // Linux never lets a second socket bind a port one listens on; this only lets a restart bind
    // past the closed connections still waiting out their time.
    const int on = 1;
    if (::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        throw std::system_error(errno, std::generic_category(), "SO_REUSEADDR");
}

void writePrivateFile(const std::string& path, const std::string& content) {
    const auto fail = [&](const std::string& what) {
        throw std::system_error(errno, std::generic_category(), what);
    };
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    posix::UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) fail("cannot create " + temporary);
    // The file it replaces keeps its owner and group (the service's group may read it), but
    // never anyone else's reading.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) fail("chown");
        if (::fchmod(fd.get(), old.st_mode & 0660) != 0) fail("chmod");
    }
    for (size_t done = 0; done < content.size();) {
        const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot write " + temporary);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0) fail("cannot write " + temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        fail("cannot replace " + path);
    }
}

} // namespace tolvak::cli
