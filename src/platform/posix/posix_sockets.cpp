#include "platform/posix/posix_sockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "text/utf8.h"

namespace tolvak::posix {

namespace {

constexpr uint16_t kVersion11 = 0x0101;
constexpr uint16_t kMaxSockets = 32767;
constexpr uint32_t kErrorNotFound = 1168; // what SendARP answers for an address nobody holds

struct IfAddrsDeleter {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};
struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

} // namespace

int PosixSockets::wsaStartup(uint16_t, WsaData& data) {
    data.wVersion = kVersion11;
    data.iMaxSockets = kMaxSockets;
    return 0;
}

int PosixSockets::getHostName(char* buffer, int length) {
    if (length <= 0 || ::gethostname(buffer, static_cast<size_t>(length)) != 0) {
        m_lastError = length <= 0 ? EINVAL : errno;
        return kSocketError;
    }
    buffer[length - 1] = '\0'; // gethostname need not terminate a truncated name
    return 0;
}

std::optional<std::vector<uint8_t>> PosixSockets::getHostByName(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo* raw = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &raw);
    if (rc != 0) {
        m_lastError = rc;
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
    std::vector<uint8_t> bytes;
    for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        const auto* p = reinterpret_cast<const uint8_t*>(&in->sin_addr.s_addr);
        bytes.assign(p, p + 4);
        break;
    }
    return bytes;
}

uint32_t PosixSockets::inetAddr(const std::string& dotted) {
    in_addr address{};
    if (::inet_pton(AF_INET, dotted.c_str(), &address) != 1) return 0;
    return address.s_addr;
}

uint32_t PosixSockets::sendArp(uint32_t destination, uint32_t, uint8_t* macAddr, uint32_t& length) {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) return static_cast<uint32_t>(errno);
    std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);
    std::string holder;
    for (ifaddrs* ifa = list.get(); ifa && holder.empty(); ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
        if (reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr == destination)
            holder = ifa->ifa_name;
    }
    if (holder.empty()) return kErrorNotFound;
    for (ifaddrs* ifa = list.get(); ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_PACKET || holder != ifa->ifa_name)
            continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
        uint32_t count = std::min<uint32_t>(length, ll->sll_halen);
        std::memcpy(macAddr, ll->sll_addr, count);
        length = count;
        return 0;
    }
    return kErrorNotFound;
}

std::u16string PosixSockets::fromAnsi(const std::string& text) {
    return fromUtf8(text);
}

} // namespace tolvak::posix
