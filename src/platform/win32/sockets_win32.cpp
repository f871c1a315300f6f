#include "platform/win32/sockets_win32.h"

// winsock2.h before windows.h; wsock32 exports the same 1.1 entry points.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <algorithm>
#include <cstring>

namespace tolvak::win32 {

int SocketsWin32::wsaStartup(uint16_t version, WsaData& data) {
    WSADATA record{};
    int result = WSAStartup(version, &record);
    if (result == 0) data = WsaData{record.wVersion, record.iMaxSockets};
    return result;
}

int SocketsWin32::wsaCleanup() {
    return WSACleanup();
}

int SocketsWin32::wsaGetLastError() {
    return WSAGetLastError();
}

int SocketsWin32::getHostName(char* buffer, int length) {
    return gethostname(buffer, length);
}

std::optional<std::vector<uint8_t>> SocketsWin32::getHostByName(const std::string& name) {
    const hostent* entry = gethostbyname(name.c_str());
    if (!entry) return std::nullopt;
    // The record is the platform's and is reused by the next call: copy at once.
    std::vector<uint8_t> address;
    if (entry->h_addr_list && entry->h_addr_list[0] && entry->h_length > 0) {
        const auto* first = reinterpret_cast<const uint8_t*>(entry->h_addr_list[0]);
        address.assign(first, first + entry->h_length);
    }
    return address;
}

uint32_t SocketsWin32::inetAddr(const std::string& dotted) {
    return inet_addr(dotted.c_str());
}

uint32_t SocketsWin32::sendArp(uint32_t destination, uint32_t source, uint8_t* macAddr,
                               uint32_t& length) {
    // SendARP wants room for two ULONGs whatever the length says.
    ULONG buffer[2] = {0, 0};
    ULONG written = std::min<ULONG>(length, sizeof buffer);
    DWORD result = SendARP(destination, source, buffer, &written);
    if (result != NO_ERROR) return result;
    written = std::min<ULONG>({written, length, sizeof buffer});
    std::memcpy(macAddr, buffer, written);
    length = written;
    return NO_ERROR;
}

std::u16string SocketsWin32::fromAnsi(const std::string& text) {
    if (text.empty()) return {};
    int size = static_cast<int>(text.size());
    int count = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (count <= 0) return {};
    std::u16string result(static_cast<size_t>(count), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(&result[0]),
                        count);
    return result;
}

} // namespace tolvak::win32
