#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvak {

// The fields of WSADATA the control reads.
struct WsaData {
    uint16_t wVersion = 0; // low byte major, high byte minor
    uint16_t iMaxSockets = 0;
};

// The Windows Sockets 1.1 and IP Helper calls the host-identity queries make, one to one.
// Texts in and out are in the system's ANSI code page.
class SocketsApi {
public:
    static constexpr int kSocketError = -1;

    virtual ~SocketsApi() = default;
    virtual int wsaStartup(uint16_t version, WsaData& data) = 0; // 0 on success
    virtual int wsaCleanup() = 0; // 0 on success
    virtual int wsaGetLastError() = 0;
    // Writes a NUL-terminated name into buffer; 0 or kSocketError.
    virtual int getHostName(char* buffer, int length) = 0;
    // The bytes of the first address listed for name (h_length of them; empty when the list is
    // empty), or nothing when the lookup fails.
    virtual std::optional<std::vector<uint8_t>> getHostByName(const std::string& name) = 0;
    // The address in network byte order, as it stands in memory; 0 counts as failure.
    virtual uint32_t inetAddr(const std::string& dotted) = 0;
    // Writes up to length bytes of hardware address to macAddr, sets length to the count written;
    // 0 on success.
    virtual uint32_t sendArp(uint32_t destination, uint32_t source, uint8_t* macAddr,
                             uint32_t& length) = 0;
    virtual std::u16string fromAnsi(const std::string& text) = 0;
};

} // namespace tolvak
