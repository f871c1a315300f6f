#include "platform/win32/com_port.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace tolvak::win32 {

namespace {

[[noreturn]] void fail(DWORD error, const std::string& name) {
    throw std::system_error(static_cast<int>(error), std::system_category(), name);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

} // namespace

std::optional<int> comPortNumber(std::string_view name) {
    if (startsWithNoCase(name, "\\\\.\\")) name.remove_prefix(4);
    if (!startsWithNoCase(name, "COM")) return std::nullopt;
    name.remove_prefix(3);
    if (name.empty() || name.size() > 3 || name.front() == '0') return std::nullopt;
    int number = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number > 255) return std::nullopt;
    return number;
}

namespace {

UniqueFile openPort(const std::string& name) {
    auto number = comPortNumber(name);
    if (!number) fail(ERROR_INVALID_NAME, name);
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(*number);
    UniqueFile port(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!port) fail(GetLastError(), name);
    return port;
}

} // namespace

ComPortListener::ComPortListener(const std::string& name) : m_name(name), m_port(openPort(name)) {}

std::pair<std::string, std::vector<size_t>> ComPortListener::listen(
    const SerialSettings& line, std::chrono::milliseconds time, size_t limit) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_port.get(), &dcb)) fail(GetLastError(), m_name);
    dcb.BaudRate = line.baud;
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    static const BYTE kParity[] = {NOPARITY, EVENPARITY, ODDPARITY, MARKPARITY, SPACEPARITY};
    static const BYTE kStop[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    dcb.Parity = kParity[static_cast<int>(line.parity)];
    dcb.StopBits = kStop[static_cast<int>(line.stopBits)];
    dcb.fParity = line.parity != Parity::None;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    if (!SetCommState(m_port.get(), &dcb)) fail(GetLastError(), m_name);
    PurgeComm(m_port.get(), PURGE_RXCLEAR | PURGE_RXABORT);
    // Windows reports errors per look, not per byte: the bytes of a look that found one are all
    // taken as suspect, which is what the search needs to tell a wrong setting.
    std::pair<std::string, std::vector<size_t>> got;
    const auto end = std::chrono::steady_clock::now() + time;
    while (got.first.size() < limit && std::chrono::steady_clock::now() < end) {
        COMSTAT status{};
        DWORD errors = 0, read = 0;
        if (!ClearCommError(m_port.get(), &errors, &status)) fail(GetLastError(), m_name);
        if (status.cbInQue == 0) {
            Sleep(20);
            continue;
        }
        char buffer[4096];
        const DWORD wanted = std::min<DWORD>(sizeof buffer, status.cbInQue);
        if (!ReadFile(m_port.get(), buffer, wanted, &read, nullptr)) fail(GetLastError(), m_name);
        const size_t start = got.first.size();
        got.first.append(buffer, read);
        if (errors & (CE_FRAME | CE_RXPARITY | CE_BREAK | CE_OVERRUN))
            for (size_t i = start; i < got.first.size(); ++i)
                got.second.push_back(i);
    }
    return got;
}

ComPortWriter::ComPortWriter(const std::string& name, uint32_t baud) {
    m_port = openPort(name);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_port.get(), &dcb)) fail(GetLastError(), name);
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    if (!SetCommState(m_port.get(), &dcb)) fail(GetLastError(), name);
    // A write that the line cannot take within this long counts as a full line.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 200;
    if (!SetCommTimeouts(m_port.get(), &timeouts)) fail(GetLastError(), name);
}

std::optional<size_t> ComPortWriter::write(std::string_view bytes) {
    DWORD written = 0;
    if (WriteFile(m_port.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return written;
    if (GetLastError() == ERROR_TIMEOUT || GetLastError() == ERROR_SEM_TIMEOUT) return written;
    return std::nullopt;
}

size_t ComPortWriter::read(char* buffer, size_t size) {
    // Only what already waits is asked for, so the read returns at once whatever the timeouts.
    COMSTAT status{};
    DWORD errors = 0, got = 0;
    if (!ClearCommError(m_port.get(), &errors, &status) || status.cbInQue == 0) return 0;
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(size, status.cbInQue));
    if (!ReadFile(m_port.get(), buffer, wanted, &got, nullptr)) return 0;
    return got;
}

} // namespace tolvak::win32
