// NetworkModule: starting and cleaning up Windows Sockets, and the three host-identity queries.
#include <gtest/gtest.h>

#include "fakes.h"
#include "network/network_module.h"

namespace tolvak::testing {
namespace {

using Log = std::vector<std::string>;

const std::u16string kNotice = u"提示";
const std::u16string kNotResponding = u"The 32-bit Windows Socket is not responding.";
const std::u16string kTooFewSockets =
    u"This application requires a minimum of 1 supported sockets.";

std::u16string versionRefused(const char16_t* version) {
    return u"Sockets version " + std::u16string(version) +
           u" is not supported by 32-bit Windows Sockets.";
}

struct Network {
    FakeSockets sockets;
    RecordingMsgBox msgBox;
    NetworkModule module{sockets, msgBox};

    std::vector<std::u16string> prompts() const {
        std::vector<std::u16string> out;
        for (const ShownBox& b : msgBox.boxes)
            out.push_back(b.prompt);
        return out;
    }
};

struct StartCase {
    const char* name;
    int startup;
    uint16_t version;
    uint16_t maxSockets;
    bool started;
    std::vector<std::u16string> boxes;
    Log log;
};

TEST(StartSockets, ChecksStartupCapacityAndVersion) {
    const Log startOnly = {"WSAStartup"};
    const Log matched = {"WSAStartup", "WSACleanup"};
    const StartCase cases[] = {
        {"startup fails", 10091, 0x0101, 100, false, {kNotResponding}, startOnly},
        {"no sockets", 0, 0x0101, 0, false, {kTooFewSockets}, matched},
        {"top bit set", 0, 0x0101, 0x8000, false, {kTooFewSockets}, matched},
        {"all bits set", 0, 0x0101, 0xFFFF, false, {kTooFewSockets}, matched},
        {"one socket", 0, 0x0101, 1, true, {}, startOnly},
        {"largest positive", 0, 0x0101, 0x7FFF, true, {}, startOnly},
        {"capacity checked before version", 0, 0x0001, 0, false, {kTooFewSockets}, matched},
        {"version 1.0", 0, 0x0001, 100, false, {versionRefused(u"1.0")}, matched},
        {"version 0.1", 0, 0x0100, 100, false, {versionRefused(u"0.1")}, matched},
        {"version 0.0", 0, 0x0000, 100, false, {versionRefused(u"0.0")}, matched},
        {"version 0.12", 0, 0x0C00, 100, false, {versionRefused(u"0.12")}, matched},
        {"version 1.1", 0, 0x0101, 100, true, {}, startOnly},
        {"version 2.2", 0, 0x0202, 100, true, {}, startOnly},
        {"version 2.0", 0, 0x0002, 100, true, {}, startOnly},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        Network n;
        n.sockets.startupResult = c.startup;
        n.sockets.granted = {c.version, c.maxSockets};
        EXPECT_EQ(n.module.startSockets(), c.started);
        EXPECT_EQ(n.sockets.requestedVersion, 0x0101);
        EXPECT_EQ(n.prompts(), c.boxes);
        for (const ShownBox& b : n.msgBox.boxes) {
            EXPECT_EQ(b.flags, 0x30u);
            EXPECT_EQ(b.title, kNotice);
        }
        EXPECT_EQ(n.sockets.log, c.log);
    }
}

TEST(StartSockets, FailedCleanupAfterARefusalShowsNoSecondBox) {
    Network n;
    n.sockets.granted = {0x0101, 0};
    n.sockets.cleanupResult = -1;
    EXPECT_FALSE(n.module.startSockets());
    EXPECT_EQ(n.prompts(), std::vector<std::u16string>{kTooFewSockets});
}

TEST(StopSockets, ReportsAFailedCleanup) {
    const std::pair<int, std::vector<std::u16string>> cases[] = {
        {0, {}},
        {-1, {u"Socket error -1 occurred in Cleanup "}},
        {10093, {u"Socket error 10093 occurred in Cleanup "}},
    };
    for (const auto& [result, boxes] : cases) {
        SCOPED_TRACE(result);
        Network n;
        n.sockets.cleanupResult = result;
        n.module.stopSockets();
        EXPECT_EQ(n.prompts(), boxes);
        for (const ShownBox& b : n.msgBox.boxes) {
            EXPECT_EQ(b.flags, 0x30u);
            EXPECT_EQ(b.title, kNotice);
        }
        EXPECT_EQ(n.sockets.log, Log{"WSACleanup"});
    }
}

struct HostNameCase {
    const char* name;
    std::function<void(FakeSockets&)> setup;
    std::u16string result;
    std::vector<ShownBox> boxes;
    Log log;
};

TEST(HostName, MessagesAndResults) {
    const std::u16string title = u"Tolvak";
    const HostNameCase cases[] = {
        {"resolves",
         [](FakeSockets&) {},
         u"scalehouse",
         {},
         {"WSAStartup", "gethostname", "gethostbyname:scalehouse", "WSACleanup"}},
        {"blanks around the name",
         [](FakeSockets& s) { s.hostName = "  scale house  "; },
         u"scale house",
         {},
         {"WSAStartup", "gethostname", "gethostbyname:scale house", "WSACleanup"}},
        {"gethostname fails",
         [](FakeSockets& s) {
             s.hostNameResult = -1;
             s.lastError = 10093;
         },
         u"",
         {{u"Windows Sockets error  10093", 0, u"Tolvak"}},
         {"WSAStartup", "gethostname", "WSACleanup"}},
        {"negative error code",
         [](FakeSockets& s) {
             s.hostNameResult = -1;
             s.lastError = -5;
         },
         u"",
         {{u"Windows Sockets error -5", 0, u"Tolvak"}},
         {"WSAStartup", "gethostname", "WSACleanup"}},
        {"gethostbyname fails",
         [](FakeSockets& s) { s.address.reset(); },
         u"",
         {{u"Winsock.dll is not responding.", 0, u"Tolvak"}},
         {"WSAStartup", "gethostname", "gethostbyname:scalehouse", "WSACleanup"}},
        {"startup fails",
         [](FakeSockets& s) { s.startupResult = 10091; },
         u"",
         {{kNotResponding, 0x30, kNotice}},
         {"WSAStartup"}},
        {"cleanup fails",
         [](FakeSockets& s) { s.cleanupResult = -1; },
         u"scalehouse",
         {{u"Socket error -1 occurred in Cleanup ", 0x30, kNotice}},
         {"WSAStartup", "gethostname", "gethostbyname:scalehouse", "WSACleanup"}},
    };
    for (const HostNameCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.setup(*h.sockets);
        Variant result = h.call(u"getLocalHostName");
        EXPECT_EQ(std::get<std::u16string>(result), c.result);
        ASSERT_EQ(h.msgBox->boxes.size(), c.boxes.size());
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            EXPECT_EQ(h.msgBox->boxes[i].prompt, c.boxes[i].prompt);
            EXPECT_EQ(h.msgBox->boxes[i].flags, c.boxes[i].flags);
            EXPECT_EQ(h.msgBox->boxes[i].title, c.boxes[i].title);
        }
        EXPECT_EQ(h.sockets->log, c.log);
    }
}

TEST(HostName, LongNameIsCutAtTheBuffer) {
    Harness h;
    h.sockets->hostName = std::string(300, 'h');
    EXPECT_EQ(h.control->getLocalHostName(), std::u16string(255, u'h'));
}

struct AddressCase {
    const char* name;
    std::function<void(FakeSockets&)> setup;
    std::u16string result;
    std::vector<std::u16string> boxes;
    Log log;
};

TEST(IPAddress, ResultsAndBracketing) {
    const Log full = {"WSAStartup", "gethostname", "gethostbyname:scalehouse", "WSACleanup"};
    const AddressCase cases[] = {
        {"10.0.0.7",
         [](FakeSockets& s) {
             s.address = std::vector<uint8_t>{10, 0, 0, 7};
         },
         u"10.0.0.7",
         {},
         full},
        {"192.168.0.5", [](FakeSockets&) {}, u"192.168.0.5", {}, full},
        {"all 255",
         [](FakeSockets& s) {
             s.address = std::vector<uint8_t>{255, 255, 255, 255};
         },
         u"255.255.255.255",
         {},
         full},
        {"all 0",
         [](FakeSockets& s) {
             s.address = std::vector<uint8_t>{0, 0, 0, 0};
         },
         u"0.0.0.0",
         {},
         full},
        {"empty address list",
         [](FakeSockets& s) { s.address = std::vector<uint8_t>{}; },
         u"",
         {},
         full},
        {"gethostname fails",
         [](FakeSockets& s) { s.hostNameResult = -1; },
         u"",
         {},
         {"WSAStartup", "gethostname", "WSACleanup"}},
        {"gethostbyname fails", [](FakeSockets& s) { s.address.reset(); }, u"", {}, full},
        {"startup fails",
         [](FakeSockets& s) { s.startupResult = 10091; },
         u"",
         {kNotResponding},
         {"WSAStartup"}},
        {"version refused",
         [](FakeSockets& s) {
             s.granted = {0x0001, 100};
         },
         u"",
         {versionRefused(u"1.0")},
         {"WSAStartup", "WSACleanup"}},
        {"cleanup fails",
         [](FakeSockets& s) { s.cleanupResult = -1; },
         u"192.168.0.5",
         {u"Socket error -1 occurred in Cleanup "},
         full},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.setup(*h.sockets);
        EXPECT_EQ(std::get<std::u16string>(h.call(u"GetLocalIPAddress")), c.result);
        std::vector<std::u16string> prompts;
        for (const ShownBox& b : h.msgBox->boxes)
            prompts.push_back(b.prompt);
        EXPECT_EQ(prompts, c.boxes);
        EXPECT_EQ(h.sockets->log, c.log);
    }
}

struct MacCase {
    const char* name;
    std::function<void(FakeSockets&)> setup;
    bool found;
    std::u16string text;
};

TEST(MacLookup, TextAndRefusals) {
    const MacCase cases[] = {
        {"every byte two digits", [](FakeSockets&) {}, true, u"00-1A-2B-05-00-FF"},
        {"low values", [](FakeSockets& s) { s.mac = {1, 2, 3, 4, 0x0A, 0x0F}; }, true,
         u"01-02-03-04-0A-0F"},
        {"only the fourth byte set", [](FakeSockets& s) { s.mac = {0, 0, 0, 1, 0, 0}; }, true,
         u"00-00-00-01-00-00"},
        {"first four bytes zero", [](FakeSockets& s) { s.mac = {0, 0, 0, 0, 0x12, 0x34}; }, false,
         u""},
        {"SendARP fails", [](FakeSockets& s) { s.arpResult = 31; }, false, u""},
        {"length 0", [](FakeSockets& s) { s.arpLength = 0; }, false, u""},
        {"length 4", [](FakeSockets& s) { s.arpLength = 4; }, true, u"00-1A-2B-05"},
        {"length above 6 is clamped", [](FakeSockets& s) { s.arpLength = 8; }, true,
         u"00-1A-2B-05-00-FF"},
        {"inet_addr gives 0", [](FakeSockets& s) { s.inetAddrResult = 0; }, false, u""},
    };
    for (const MacCase& c : cases) {
        SCOPED_TRACE(c.name);
        Network n;
        c.setup(n.sockets);
        std::u16string mac = u"unchanged";
        EXPECT_EQ(n.module.lookupMacAddress(u"192.168.0.5", mac), c.found);
        EXPECT_EQ(mac, c.found ? c.text : u"unchanged");
        EXPECT_EQ(n.sockets.log.front(), "inet_addr:192.168.0.5");
        if (n.sockets.inetAddrResult == 0) {
            EXPECT_EQ(n.sockets.log, Log{"inet_addr:192.168.0.5"}) << "no ARP request";
        } else {
            EXPECT_EQ(n.sockets.arpDestination, n.sockets.inetAddrResult);
        }
        EXPECT_TRUE(n.msgBox.boxes.empty());
    }
}

TEST(MacAddress, LooksUpTheAddressThenAsksArpOutsideTheBracket) {
    Harness h;
    EXPECT_EQ(std::get<std::u16string>(h.call(u"getLocalMacAddress")), u"00-1A-2B-05-00-FF");
    const Log expected = {"WSAStartup", "gethostname",           "gethostbyname:scalehouse",
                          "WSACleanup", "inet_addr:192.168.0.5", "SendARP"};
    EXPECT_EQ(h.sockets->log, expected);
    EXPECT_TRUE(h.msgBox->boxes.empty());
}

TEST(MacAddress, FailuresGiveEmptyText) {
    const AddressCase cases[] = {
        {"startup fails",
         [](FakeSockets& s) { s.startupResult = 10091; },
         u"",
         {kNotResponding},
         {"WSAStartup"}},
        {"no address",
         [](FakeSockets& s) { s.address.reset(); },
         u"",
         {},
         {"WSAStartup", "gethostname", "gethostbyname:scalehouse", "WSACleanup"}},
        {"first four bytes zero",
         [](FakeSockets& s) { s.mac = {0, 0, 0, 0, 0x12, 0x34}; },
         u"",
         {},
         {"WSAStartup", "gethostname", "gethostbyname:scalehouse", "WSACleanup",
          "inet_addr:192.168.0.5", "SendARP"}},
        {"SendARP fails",
         [](FakeSockets& s) { s.arpResult = 67; },
         u"",
         {},
         {"WSAStartup", "gethostname", "gethostbyname:scalehouse", "WSACleanup",
          "inet_addr:192.168.0.5", "SendARP"}},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.setup(*h.sockets);
        EXPECT_EQ(h.control->getLocalMacAddress(), c.result);
        std::vector<std::u16string> prompts;
        for (const ShownBox& b : h.msgBox->boxes)
            prompts.push_back(b.prompt);
        EXPECT_EQ(prompts, c.boxes);
        EXPECT_EQ(h.sockets->log, c.log);
    }
}

TEST(MacAddress, TwoCallsEachStartAndCleanUpAndShowTheirMessagesAfresh) {
    Harness h;
    h.sockets->cleanupResult = -1;
    EXPECT_EQ(h.control->getLocalMacAddress(), u"00-1A-2B-05-00-FF");
    EXPECT_EQ(h.control->getLocalMacAddress(), u"00-1A-2B-05-00-FF");
    const Log one = {"WSAStartup", "gethostname",           "gethostbyname:scalehouse",
                     "WSACleanup", "inet_addr:192.168.0.5", "SendARP"};
    Log two = one;
    two.insert(two.end(), one.begin(), one.end());
    EXPECT_EQ(h.sockets->log, two);
    ASSERT_EQ(h.msgBox->boxes.size(), 2u);
    EXPECT_EQ(h.msgBox->boxes[0].prompt, u"Socket error -1 occurred in Cleanup ");
    EXPECT_EQ(h.msgBox->boxes[1].prompt, u"Socket error -1 occurred in Cleanup ");
}

} // namespace
} // namespace tolvak::testing
