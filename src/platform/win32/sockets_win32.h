#pragma once

#include "network/sockets_api.h"

namespace tolvak::win32 {

// Windows Sockets 1.1 (wsock32) and SendARP (iphlpapi), one call each.
class SocketsWin32 : public SocketsApi {
  public:
    int wsaStartup(uint16_t version, WsaData& data) override;
    int wsaCleanup() override;
    int wsaGetLastError() override;
    int getHostName(char* buffer, int length) override;
    std::optional<std::vector<uint8_t>> getHostByName(const std::string& name) override;
    uint32_t inetAddr(const std::string& dotted) override;
    uint32_t sendArp(uint32_t destination, uint32_t source, uint8_t* macAddr,
                     uint32_t& length) override;
    std::u16string fromAnsi(const std::string& text) override;
};

} // namespace tolvak::win32
