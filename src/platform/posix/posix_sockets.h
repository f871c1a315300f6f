#pragma once

#include "network/sockets_api.h"

namespace tolvak::posix {

// Host identity from the C library: there is no sockets library to start on Linux, so start-up
// and clean-up succeed as Windows Sockets 1.1 would; the MAC address comes from the interface
// that holds the address (getifaddrs), not from an ARP request.
class PosixSockets : public SocketsApi {
  public:
    int wsaStartup(uint16_t version, WsaData& data) override;
    int wsaCleanup() override { return 0; }
    int wsaGetLastError() override { return m_lastError; }
    int getHostName(char* buffer, int length) override;
    std::optional<std::vector<uint8_t>> getHostByName(const std::string& name) override;
    uint32_t inetAddr(const std::string& dotted) override;
    uint32_t sendArp(uint32_t destination, uint32_t source, uint8_t* macAddr,
                     uint32_t& length) override;
    std::u16string fromAnsi(const std::string& text) override;

  private:
    int m_lastError = 0;
};

} // namespace tolvak::posix
