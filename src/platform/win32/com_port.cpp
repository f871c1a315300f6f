#include "platform/win32/com_port.h"

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

ComPortWriter::ComPortWriter(const std::string& name, uint32_t baud) {
    auto number = comPortNumber(name);
    if (!number) fail(ERROR_INVALID_NAME, name);
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(*number);
    m_port.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr));
    if (!m_port) fail(GetLastError(), name);
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

} // namespace tolvak::win32
