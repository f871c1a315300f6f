#include "platform/win32/serial_control_win32.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"
#include "text/line_text.h"
#include "text/number_text.h"

namespace tolvak::win32 {

namespace {

// A driver that hands back nothing at once, again and again, has lost its device (a hung-up
// line); this many such reads in a row close the port instead of spinning.
constexpr int kInstantEmptyReadsLimit = 20;
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
      }) {}

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
    if (portOpen()) notifyIfDue(m_generation);
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
                                OPEN_EXISTING, 0, nullptr));
    if (!port) throw fromWin32(GetLastError(), portName());

    // The buffer size is only a request: the reader keeps every byte whatever the driver holds.
    SetupComm(port.get(), std::max<DWORD>(static_cast<DWORD>(m_inBufferSize), kDriverQueueSize),
              kDriverQueueSize);
    applySettings(port.get(), m_settings);
    // Short read timeouts keep the reader responsive to closing; never MAXDWORD waits.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutConstant = kReadTimeoutMs;
    if (!SetCommTimeouts(port.get(), &timeouts)) throw fromWin32(GetLastError(), portName());
    PurgeComm(port.get(), PURGE_RXCLEAR); // bytes from before the opening are not ours

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.clear();
        m_notifyPending = false;
    }
    m_commEvent = 0;
    m_stop = false;
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
    if (m_reader.joinable()) m_reader.join();
    m_port.reset();
    portsInUse().release(m_commPort);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_notifyPending = false;
    ++m_generation; // notifications still queued belong to the closed port
}

void SerialControlWin32::readLoop(HANDLE port, unsigned generation) {
    char buffer[4096];
    int instantEmptyReads = 0;
    while (!m_stop) {
        DWORD count = 0;
        auto start = std::chrono::steady_clock::now();
        if (!ReadFile(port, buffer, sizeof buffer, &count, nullptr)) {
            DWORD error = GetLastError();
            if (m_stop) break;
            PostMessageW(m_window.hwnd(), kLostMessage, generation, static_cast<LPARAM>(error));
            return;
        }
        if (count > 0) {
            instantEmptyReads = 0;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(buffer, count);
            notifyIfDue(generation);
            continue;
        }
        auto waited = std::chrono::steady_clock::now() - start;
        if (waited >= std::chrono::milliseconds(kReadTimeoutMs / 2)) {
            instantEmptyReads = 0;
            std::lock_guard<std::mutex> lock(m_mutex);
            notifyIfDue(generation, true);
            continue;
        }
        if (++instantEmptyReads >= kInstantEmptyReadsLimit) {
            PostMessageW(m_window.hwnd(), kLostMessage, generation, ERROR_HANDLE_EOF);
            return;
        }
        Sleep(kReadTimeoutMs);
    }
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notifyPending = false;
        if (!due(lParam != 0)) return;
    }
    m_commEvent = kEventReceive;
    raiseOnComm();
}

} // namespace tolvak::win32
