#include "platform/posix/posix_sockets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <unistd.h>

#include <cstring>

#include "base/msg_box.h"
#include "network/network_module.h"
#include "platform/posix/console_msg_box.h"

namespace tolvak::posix {
namespace {

struct AddrCase {
    const char* dotted;
    uint32_t hostOrder; // 0: refused
};

class InetAddrTest : public ::testing::TestWithParam<AddrCase> {};

TEST_P(InetAddrTest, NetworkOrderAsInMemory) {
    PosixSockets sockets;
    EXPECT_EQ(sockets.inetAddr(GetParam().dotted), htonl(GetParam().hostOrder));
}

INSTANTIATE_TEST_SUITE_P(Table, InetAddrTest,
                         ::testing::Values(AddrCase{"127.0.0.1", 0x7F000001},
                                           AddrCase{"10.0.0.7", 0x0A000007},
                                           AddrCase{"192.168.0.5", 0xC0A80005},
                                           AddrCase{"255.255.255.254", 0xFFFFFFFE}, AddrCase{"", 0},
                                           AddrCase{"1.2.3", 0}, AddrCase{"256.1.1.1", 0},
                                           AddrCase{"a.b.c.d", 0}));

TEST(PosixSockets, StartsAsWindowsSockets11) {
    PosixSockets sockets;
    WsaData data;
    EXPECT_EQ(sockets.wsaStartup(0x0101, data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_GT(static_cast<int16_t>(data.iMaxSockets), 0);
    EXPECT_EQ(sockets.wsaCleanup(), 0);
}

TEST(PosixSockets, HostNameMatchesTheSystemAndResolves) {
    PosixSockets sockets;
    char buffer[256] = {};
    ASSERT_EQ(sockets.getHostName(buffer, sizeof buffer), 0);
    char expected[256] = {};
    ::gethostname(expected, sizeof expected);
    EXPECT_STREQ(buffer, expected);
    auto localhost = sockets.getHostByName("localhost");
    ASSERT_TRUE(localhost.has_value());
    EXPECT_EQ(*localhost, (std::vector<uint8_t>{127, 0, 0, 1}));
    EXPECT_FALSE(sockets.getHostByName("no-such-host.invalid").has_value());
}

// The hardware address of the interface holding each IPv4 address of this machine.
TEST(PosixSockets, SendArpFindsTheInterfaceHoldingTheAddress) {
    ifaddrs* list = nullptr;
    ASSERT_EQ(::getifaddrs(&list), 0);
    PosixSockets sockets;
    int checked = 0;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
        uint32_t address = reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
        uint8_t mac[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        uint32_t length = 6;
        ASSERT_EQ(sockets.sendArp(address, 0, mac, length), 0u) << ifa->ifa_name;
        EXPECT_LE(length, 6u);
        if (std::string(ifa->ifa_name) == "lo") {
            EXPECT_EQ(length, 6u);
            EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), std::vector<uint8_t>(6, 0));
        }
        ++checked;
    }
    ::freeifaddrs(list);
    EXPECT_GT(checked, 0);
    uint8_t mac[6];
    uint32_t length = 6;
    EXPECT_NE(sockets.sendArp(sockets.inetAddr("192.0.2.254"), 0, mac, length), 0u);
}

TEST(PosixSockets, AddressLookupAgreesWithTheResolver) {
    std::vector<std::string> boxes;
    ConsoleMsgBox box(
        [&](const std::string&, const std::string& prompt, uint32_t) { boxes.push_back(prompt); });
    PosixSockets sockets;
    NetworkModule network(sockets, box);
    char name[256] = {};
    ::gethostname(name, sizeof name);
    auto bytes = sockets.getHostByName(name);
    ASSERT_TRUE(bytes && bytes->size() == 4) << "this machine's name does not resolve";
    char dotted[16];
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", (*bytes)[0], (*bytes)[1], (*bytes)[2],
                  (*bytes)[3]);
    EXPECT_EQ(network.lookupLocalIPAddress(), std::u16string(dotted, dotted + std::strlen(dotted)));
    EXPECT_EQ(network.getLocalHostName(), std::u16string(name, name + std::strlen(name)));
    EXPECT_TRUE(boxes.empty());
}

struct BoxCase {
    std::string title;
    std::string prompt;
    std::string shown;
};

class MsgBoxFormat : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MsgBoxFormat, OneLinePerLineOfThePrompt) {
    EXPECT_EQ(formatMsgBox(GetParam().title, GetParam().prompt), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MsgBoxFormat,
    ::testing::Values(BoxCase{"提示", "a\r错误代码：8002\rb", "提示: a\n错误代码：8002\nb\n"},
                      BoxCase{"Tolvak", "Winsock.dll is not responding.",
                              "Tolvak: Winsock.dll is not responding.\n"},
                      BoxCase{"t", "x\r\ny", "t: x\ny\n"}, BoxCase{"t", "", "t: \n"}));

TEST(ConsoleMsgBox, HandsUtf8ToThePluggedSink) {
    std::vector<std::pair<std::string, std::string>> shown;
    ConsoleMsgBox box([&](const std::string& title, const std::string& prompt, uint32_t flags) {
        shown.emplace_back(title, prompt);
        EXPECT_EQ(flags, MsgBox::kExclamation);
    });
    box.show(u"错误信息：x", MsgBox::kExclamation, kNoticeTitle);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, "提示");
    EXPECT_EQ(shown[0].second, "错误信息：x");
}

} // namespace
} // namespace tolvak::posix
