#include "platform/posix/serial_control_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/line_discipline.h"
#include "platform/posix/posix_error.h"
#include "text/line_text.h"
#include "text/utf8.h"

namespace tolvak::posix {

namespace {

// Reading stops after this much per wake-up so that other descriptors and timers get their turn.
constexpr size_t kReadPerWakeup = 1 << 20;

AutomationError portNotOpen() {
    return AutomationError(errors::kPortNotOpen, u"Port not open");
}

} // namespace

PosixSerialControl::PosixSerialControl(EventLoop& loop) : m_loop(loop) {}

PosixSerialControl::~PosixSerialControl() {
    close();
}

void PosixSerialControl::bindDevice(int16_t port, std::string path) {
    m_bound[port] = std::move(path);
}

std::string PosixSerialControl::devicePath(int16_t port) const {
    auto it = m_bound.find(port);
    if (it != m_bound.end()) return it->second;
    return "/dev/ttyS" + std::to_string(port - 1);
}

void PosixSerialControl::setCommPort(int16_t port) {
    if (port == m_port) return;
    if (portOpen()) throw errors::portAlreadyOpen();
    if (port < 1 && m_bound.count(port) == 0)
        throw AutomationError(errors::kInvalidPortNumber, u"Invalid port number");
    m_port = port;
}

void PosixSerialControl::setSettings(const std::u16string& settings) {
    auto parsed = parseSettingsText(settings);
    if (!parsed) {
        std::u16string text = u"Invalid property value: settings \"";
        text += settings;
        text += u"\" (expected baud,parity,data bits,stop bits)";
        throw AutomationError(errors::kInvalidPropertyValue, text);
    }
    if (portOpen()) {
        if (int error = applyLineSettings(m_fd.get(), *parsed)) throw fromErrno(error, m_device);
    }
    m_settings = *parsed;
}

void PosixSerialControl::setInBufferSize(int16_t size) {
    if (size == m_bufferSize) return;
    if (portOpen()) throw errors::portAlreadyOpen();
    if (size < 0) throw errors::invalidPropertyValue();
    m_bufferSize = size; // a request only: the buffer grows with what arrives
}

void PosixSerialControl::setInBufferCount(int16_t count) {
    if (count != 0) throw errors::invalidPropertyValue();
    m_buffer.clear();
    if (portOpen()) discardInput(m_fd.get());
}

void PosixSerialControl::setInputLen(int16_t length) {
    if (length < 0) throw errors::invalidPropertyValue();
    m_inputLen = length;
}

void PosixSerialControl::setRThreshold(int16_t threshold) {
    if (threshold < 0) throw errors::invalidPropertyValue();
    m_threshold = threshold;
}

void PosixSerialControl::setPortOpen(bool open) {
    if (open == portOpen()) {
        if (open) throw errors::portAlreadyOpen();
        return;
    }
    if (open)
        this->open();
    else
        close();
}

std::u16string PosixSerialControl::input() {
    if (!portOpen()) throw portNotOpen();
    size_t count = m_buffer.size();
    if (m_inputLen > 0 && static_cast<size_t>(m_inputLen) < count) count = m_inputLen;
    std::u16string text = lineText(std::string_view(m_buffer).substr(0, count));
    m_buffer.erase(0, count);
    ++m_reads;
    return text;
}

void PosixSerialControl::open() {
    const std::string path = devicePath(m_port);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) throw fromErrno(errno, path);
    if (!::isatty(fd.get())) throw fromErrno(ENOTTY, path);
    // flock keeps out other programs that lock too (and root, whom TIOCEXCL lets through).
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        throw fromErrno(errno == EWOULDBLOCK ? EBUSY : errno, path);
    if (int error = setExclusive(fd.get(), true)) throw fromErrno(error, path);
    if (int error = applyLineSettings(fd.get(), m_settings)) {
        setExclusive(fd.get(), false);
        throw fromErrno(error, path);
    }
    // What waited in the driver before the open belongs to nobody.
    discardInput(fd.get());
    m_buffer.clear();
    m_device = path;
    m_fd = std::move(fd);
    m_watch = m_loop.watch(m_fd.get(), POLLIN, [this](short revents) { onReady(revents); });
}

void PosixSerialControl::close() {
    cancelIdleTimer();
    if (m_watch) m_loop.unwatch(*m_watch);
    m_watch.reset();
    if (m_fd) setExclusive(m_fd.get(), false); // the flag outlives our descriptor otherwise
    m_fd.reset();
    m_buffer.clear();
}

void PosixSerialControl::onReady(short revents) {
    int lostError = 0;
    char block[65536];
    size_t total = 0;
    while (total < kReadPerWakeup) {
        ssize_t n = ::read(m_fd.get(), block, sizeof block);
        if (n > 0) {
            m_buffer.append(block, static_cast<size_t>(n));
            total += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Hung up with nothing left to read: the device is gone.
            if (revents & (POLLHUP | POLLERR | POLLNVAL)) lostError = EIO;
            break;
        }
        lostError = n == 0 ? EIO : errno; // end of file or a read error: unplugged or peer gone
        break;
    }
    const std::string device = m_device;
    // What arrived before the hang-up is still the host's.
    raiseReceiveEvents();
    if (lostError == 0 || !portOpen()) return;
    // Nothing more will come: even fewer characters than the threshold are handed over now.
    if (m_threshold > 0 && !m_buffer.empty()) raiseOnce();
    if (!portOpen()) return;
    close();
    if (m_onPortLost) m_onPortLost(fromErrno(lostError, device));
}

void PosixSerialControl::raiseReceiveEvents() {
    cancelIdleTimer();
    // RThreshold 0 means no receive events. The handler may take only part of the input (a
    // read length), so raise again while it makes progress; a handler that takes nothing is
    // not called again until more arrives.
    while (portOpen() && m_threshold > 0 && m_buffer.size() >= static_cast<size_t>(m_threshold)) {
        const uint64_t readsBefore = m_reads;
        raiseOnce();
        if (m_reads == readsBefore) return;
    }
    watchForIdleLine();
}

void PosixSerialControl::raiseOnce() {
    m_commEvent = kEventReceive;
    raiseOnComm();
    m_commEvent = 0;
}

void PosixSerialControl::watchForIdleLine() {
    if (!portOpen() || m_threshold <= 0 || m_buffer.empty()) return;
    m_idleTimer = m_loop.startTimer(
        lineQuietTime(m_settings.baud),
        [this] {
            m_idleTimer.reset();
            if (portOpen() && m_threshold > 0 && !m_buffer.empty()) raiseOnce();
        },
        false);
}

void PosixSerialControl::cancelIdleTimer() {
    if (m_idleTimer) m_loop.stopTimer(*m_idleTimer);
    m_idleTimer.reset();
}

void PosixSerialControl::write(std::string_view bytes) {
    if (!m_fd.valid()) throw portNotOpen();
    const size_t whole = bytes.size();
    while (!bytes.empty()) {
        ssize_t n = ::write(m_fd.get(), bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && errno == EAGAIN && bytes.size() == whole) {
            // A line that takes nothing (its buffer full, flow control holding it) is said at
            // once: the caller's thread is the reader's, and it must not stall on a command.
            throw fromErrno(EAGAIN, m_device);
        } else if (n < 0 && errno == EAGAIN) {
            // Only the rest of a request that has begun to leave is waited for: half a command
            // on the line would be worse.
            pollfd p{m_fd.get(), POLLOUT, 0};
            if (::poll(&p, 1, 1000) == 0) throw fromErrno(ETIMEDOUT, m_device);
        } else if (n < 0 && errno != EINTR) {
            throw fromErrno(errno, m_device);
        }
    }
}

} // namespace tolvak::posix
