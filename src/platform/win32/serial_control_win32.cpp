#include "platform/win32/serial_control_win32.h"

#include <algorithm>
#include <optional>
#include <set>
#include <system_error>

#include "platform/win32/port_read.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"
#include "text/line_text.h"
#include "text/number_text.h"

namespace tolvak::win32 {

namespace {

// A read that ends with nothing or with an error is a lost port only when the driver no longer
// answers for the port either (unplugged, hung up): a busy system can complete a read oddly, and
// dropping the scale for that would be worse than reading again. A port that answers but whose
// reads keep failing this many times in a row, a pause apart, is given up all the same.
constexpr int kFailedReadsLimit = 50;
constexpr DWORD kFailedReadPauseMs = 100;
constexpr DWORD kDriverQueueSize = 4096;

// Ports this process holds. Windows opens a COM port for one handle only, but Wine lets a
// second opening through and the two readers would share out the bytes between them.
class PortsInUse {
  public:
    bool claim(int16_t port) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ports.insert(port).second;
    }
    void release(int16_t port) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ports.erase(port);
    }

  private:
    std::mutex m_mutex;
    std::set<int16_t> m_ports;
};

PortsInUse& portsInUse() {
    static PortsInUse ports;
    return ports;
}

BYTE parityCode(Parity parity) {
    switch (parity) {
    case Parity::Even:
        return EVENPARITY;
    case Parity::Odd:
        return ODDPARITY;
    case Parity::Mark:
        return MARKPARITY;
    case Parity::Space:
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

BYTE stopBitsCode(StopBits stopBits) {
    switch (stopBits) {
    case StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case StopBits::Two:
        return TWOSTOPBITS;
    default:
        return ONESTOPBIT;
    }
}

} // namespace

SerialControlWin32::SerialControlWin32()
    : m_window([this](UINT message, WPARAM wParam, LPARAM lParam) {
          onMessage(message, wParam, lParam);
      }),
      m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!m_wake) throw fromWin32(GetLastError(), portName());
}

SerialControlWin32::~SerialControlWin32() {
    close();
}

std::u16string SerialControlWin32::portName() const {
    return u"COM" + decimalText(m_commPort);
}

void SerialControlWin32::setCommPort(int16_t port) {
    if (port < 1 || port > kMaxPort)
        throw serialError(errors::kInvalidPortNumber, u"COM" + decimalText(port));
    if (portOpen() && port != m_commPort) throw serialError(errors::kPortAlreadyOpen, portName());
    m_commPort = port;
}

void SerialControlWin32::setSettings(const std::u16string& text) {
    auto settings = parseSettingsText(text);
    if (!settings)
        throw serialError(errors::kInvalidPropertyValue,
                          portName() + u" settings \"" + text + u"\"");
    if (portOpen()) applySettings(m_port.get(), *settings);
    m_settings = *settings;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quietMs = static_cast<DWORD>(lineQuietTime(m_settings.baud).count());
}

void SerialControlWin32::setInBufferSize(int16_t size) {
    if (size < 1) throw serialError(errors::kInvalidPropertyValue, u"InBufferSize");
    if (portOpen() && size != m_inBufferSize)
        throw serialError(errors::kPortAlreadyOpen, portName());
    m_inBufferSize = size;
}

void SerialControlWin32::setInBufferCount(int16_t count) {
    if (count != 0) throw serialError(errors::kInvalidPropertyValue, u"InBufferCount");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
}

void SerialControlWin32::setInputLen(int16_t length) {
    if (length < 0) throw serialError(errors::kInvalidPropertyValue, u"InputLen");
    m_inputLen = length;
}

void SerialControlWin32::setRThreshold(int16_t threshold) {
    if (threshold < 0) throw serialError(errors::kInvalidPropertyValue, u"RThreshold");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threshold = threshold;
    if (portOpen()) offerRest(m_generation);
}

void SerialControlWin32::setPortOpen(bool open) {
    if (!open) return close();
    if (portOpen()) throw serialError(errors::kPortAlreadyOpen, portName());
    this->open();
}

std::u16string SerialControlWin32::input() {
    if (!portOpen()) throw serialError(errors::kPortNotOpen, portName());
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t count = m_received.size();
    if (m_inputLen > 0) count = std::min(count, static_cast<size_t>(m_inputLen));
    std::u16string chunk = lineText(std::string_view(m_received).substr(0, count));
    m_received.erase(0, count);
    return chunk;
}

size_t SerialControlWin32::waitingCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received.size();
}

void SerialControlWin32::applySettings(HANDLE port, const SerialSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) throw fromWin32(GetLastError(), portName());
    dcb.BaudRate = settings.baud;
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityCode(settings.parity);
    dcb.StopBits = stopBitsCode(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE; // a framing error must not stop every later read
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (SetCommState(port, &dcb)) return;
    DWORD error = GetLastError();
    // Lines without modem control (a pseudo-terminal) refuse DTR; the line settings still count.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    if (!SetCommState(port, &dcb)) throw fromWin32(error, portName());
}

void SerialControlWin32::open() {
    if (!portsInUse().claim(m_commPort)) throw fromWin32(ERROR_ACCESS_DENIED, portName());
    try {
        openClaimed();
    } catch (...) {
        portsInUse().release(m_commPort);
        throw;
    }
}

void SerialControlWin32::openClaimed() {
    std::u16string device = u"\\\\.\\" + portName();
    UniqueFile port(CreateFileW(wide(device), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!port) throw fromWin32(GetLastError(), portName());

    // The buffer size is only a request: the reader keeps every byte whatever the driver holds.
    SetupComm(port.get(), std::max<DWORD>(static_cast<DWORD>(m_inBufferSize), kDriverQueueSize),
              kDriverQueueSize);
    applySettings(port.get(), m_settings);
    // No timeouts at all: a read waits until its bytes are there, and closing cancels it. (The
    // MAXDWORD "return at once" pattern never returns under Wine.)
    COMMTIMEOUTS timeouts{};
    if (!SetCommTimeouts(port.get(), &timeouts)) throw fromWin32(GetLastError(), portName());
    PurgeComm(port.get(), PURGE_RXCLEAR); // bytes from before the opening are not ours

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.clear();
        m_notifyPending = false;
        m_quietOwed = false;
        m_quietMs = static_cast<DWORD>(lineQuietTime(m_settings.baud).count());
    }
    m_commEvent = 0;
    m_stop = false;
    ResetEvent(m_wake.get());
    unsigned generation = ++m_generation;
    try {
        m_reader = std::thread(&SerialControlWin32::readLoop, this, port.get(), generation);
    } catch (const std::system_error&) {
        throw fromWin32(ERROR_NOT_ENOUGH_MEMORY, portName());
    }
    m_port = std::move(port);
}

void SerialControlWin32::close() {
    if (!m_port) return;
    m_stop = true;
    SetEvent(m_wake.get()); // the reader cancels its read and ends
    if (m_reader.joinable()) m_reader.join();
    m_port.reset();
    portsInUse().release(m_commPort);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_notifyPending = false;
    ++m_generation; // notifications still queued belong to the closed port
}

void SerialControlWin32::readLoop(HANDLE port, unsigned generation) {
    auto lost = [&](DWORD error) {
        if (!m_stop) PostMessageW(m_window.hwnd(), kLostMessage, generation, error);
    };
    // Waits for the read in flight; false once the port is closing. A short tail is handed over
    // meanwhile when the line falls quiet, and only then does the wait have a time limit.
    auto await = [&](PortRead& read) {
        for (;;) {
            HANDLE handles[] = {read.event(), m_wake.get()};
            DWORD result = WaitForMultipleObjects(2, handles, FALSE, quietWaitMs());
            if (m_stop) return false;
            if (result == WAIT_TIMEOUT) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_quietOwed = false;
                notifyIfDue(generation, true);
            } else if (result != WAIT_OBJECT_0 + 1) {
                return true; // done, or a failed wait that finish() reports
            }
        }
    };

    PortRead read(port);
    if (!read.ready()) return lost(GetLastError());
    char buffer[4096];
    int failedReads = 0;
    // After a read that failed or brought nothing: false once the port is taken for lost (and
    // said so) or is closing; otherwise the reader pauses and reads again.
    auto carryOn = [&](DWORD error) {
        if (!waitingInDriver(port) || ++failedReads >= kFailedReadsLimit) {
            lost(error ? error : ERROR_HANDLE_EOF);
            return false;
        }
        WaitForSingleObject(m_wake.get(), kFailedReadPauseMs);
        return !m_stop;
    };
    // One byte waits for the line to speak; what queued behind it is then taken in one read that
    // completes at once.
    for (;;) {
        DWORD count = 0;
        if (DWORD error = read.start(buffer, 1)) {
            if (!carryOn(error)) return;
            continue;
        }
        if (!await(read)) return;
        const DWORD error = read.finish(count);
        if (error || count == 0) {
            if (!carryOn(error)) return;
            continue;
        }
        failedReads = 0;
        if (DWORD waiting = std::min<DWORD>(waitingInDriver(port).value_or(0), sizeof buffer - 1)) {
            DWORD more = 0;
            // A failure here shows again in the next read, which decides what it means.
            if (read.start(buffer + 1, waiting) == 0) {
                if (!await(read)) return;
                if (read.finish(more)) more = 0;
            }
            count += more;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.append(buffer, count);
        m_quietOwed = true;
        notifyIfDue(generation);
    }
}

DWORD SerialControlWin32::quietWaitMs() {
    std::lock_guard<std::mutex> lock(m_mutex);
    bool tailWaits = m_quietOwed && !m_notifyPending && m_threshold > 0 && !m_received.empty();
    return tailWaits ? m_quietMs : INFINITE;
}

void SerialControlWin32::offerRest(unsigned generation) {
    if (m_received.empty()) return;
    m_quietOwed = true;
    notifyIfDue(generation);
    SetEvent(m_wake.get()); // the reader's wait may have no time limit yet
}

bool SerialControlWin32::due(bool lineQuiet) const {
    if (m_threshold <= 0 || m_received.empty()) return false;
    return lineQuiet || m_received.size() >= static_cast<size_t>(m_threshold);
}

void SerialControlWin32::notifyIfDue(unsigned generation, bool lineQuiet) {
    if (m_notifyPending || !due(lineQuiet)) return;
    m_notifyPending =
        PostMessageW(m_window.hwnd(), kReceivedMessage, generation, lineQuiet) != FALSE;
}

void SerialControlWin32::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (wParam != m_generation) return; // from a port since closed
    if (message == kLostMessage) {
        close();
        if (m_onPortLost) m_onPortLost(fromWin32(static_cast<DWORD>(lParam), portName()));
        return;
    }
    if (message != kReceivedMessage) return;
    size_t waiting = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notifyPending = false;
        if (!due(lParam != 0)) return;
        waiting = m_received.size();
    }
    m_commEvent = kEventReceive;
    raiseOnComm();
    // A handler that took only part (InputLen) is offered the rest; one that took nothing is not
    // called again until more arrives.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (wParam == m_generation && m_received.size() < waiting) offerRest(m_generation);
}

void SerialControlWin32::write(std::string_view bytes) {
    if (!portOpen()) throw serialError(errors::kPortNotOpen, portName());
    // The port is opened for overlapped I/O (the reader waits that way): so is this write.
    UniqueKernelObject done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) throw fromWin32(GetLastError(), portName());
    while (!bytes.empty()) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = done.get();
        DWORD written = 0;
        if (!WriteFile(m_port.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                       &overlapped) &&
            GetLastError() != ERROR_IO_PENDING)
            throw fromWin32(GetLastError(), portName());
        if (WaitForSingleObject(done.get(), 1000) != WAIT_OBJECT_0) {
            CancelIoEx(m_port.get(), &overlapped);
            GetOverlappedResult(m_port.get(), &overlapped, &written, TRUE);
            throw fromWin32(ERROR_TIMEOUT, portName());
        }
        if (!GetOverlappedResult(m_port.get(), &overlapped, &written, FALSE))
            throw fromWin32(GetLastError(), portName());
        bytes.remove_prefix(written);
    }
}

} // namespace tolvak::win32
