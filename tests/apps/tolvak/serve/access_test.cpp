// What tolvak serve accepts: listen addresses, Host and Origin headers; and its JSON messages.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tolvak/cli/cli_args.h"
#include "tolvak/serve/access.h"
#include "tolvak/serve/messages.h"

namespace tolvak::cli {
namespace {

TEST(ListenAddress, ParsesAddressAndPort) {
    struct Row {
        const char* text;
        const char* address;
        uint16_t port;
        bool loopback;
        bool wildcard;
    };
    const Row rows[] = {
        {"127.0.0.1:8111", "127.0.0.1", 8111, true, false},
        {"127.1.2.3:80", "127.1.2.3", 80, true, false},
        {"0.0.0.0:8111", "0.0.0.0", 8111, false, true},
        {"192.168.1.20:0", "192.168.1.20", 0, false, false},
        {"[::1]:8111", "::1", 8111, true, false},
        {"[::]:65535", "::", 65535, false, true},
        {"[fe80::1]:9000", "fe80::1", 9000, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        ListenAddress listen = parseListenAddress(row.text);
        EXPECT_EQ(listen.address, row.address);
        EXPECT_EQ(listen.port, row.port);
        EXPECT_EQ(listen.loopback, row.loopback);
        EXPECT_EQ(listen.wildcard, row.wildcard);
    }
}

TEST(ListenAddress, RefusesWhatIsNotAnAddressAndPort) {
    for (const char* text : {"", "8111", ":8111", "127.0.0.1", "127.0.0.1:", "127.0.0.1:65536",
                             "127.0.0.1:-1", "127.0.0.1:80x", "localhost:8111", "::1:8111",
                             "[::1:8111", "[nonsense]:80", "256.0.0.1:80", "127.0.0.1:123456"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(parseListenAddress(text), UsageError);
    }
}

TEST(ListenAddress, UrlAddressBracketsIpv6) {
    EXPECT_EQ(urlAddress("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(urlAddress("::1"), "[::1]");
}

AccessPolicy policyFor(const char* listen, std::vector<std::string> origins = {},
                       std::vector<std::string> hosts = {}) {
    AccessPolicy policy;
    policy.listen = parseListenAddress(listen);
    policy.allowOrigins = std::move(origins);
    policy.allowHosts = std::move(hosts);
    return policy;
}

TEST(AccessPolicy, HostHeaderMustNameThisServer) {
    struct Row {
        const char* listen;
        const char* host;
        bool allowed;
    };
    const Row rows[] = {
        {"127.0.0.1:8111", "127.0.0.1:8111", true},
        {"127.0.0.1:8111", "localhost:8111", true},
        {"127.0.0.1:8111", "LocalHost:8111", true},
        {"127.0.0.1:8111", "localhost", true},
        {"127.0.0.1:8111", "127.0.0.1:9999", true}, // the port is not what rebinding changes
        // A rebinding attack: the attacker's name, resolved to 127.0.0.1.
        {"127.0.0.1:8111", "evil.example:8111", false},
        {"127.0.0.1:8111", "localhost.evil.example:8111", false},
        {"127.0.0.1:8111", "127.0.0.2:8111", false},
        {"127.0.0.1:8111", "", false},
        {"127.0.0.1:8111", "[::1]:8111", false},
        {"[::1]:8111", "[::1]:8111", true},
        {"[::1]:8111", "[::1", false},
        {"0.0.0.0:8111", "192.168.1.20:8111", true},
        {"0.0.0.0:8111", "[fe80::1]:8111", true},
        {"0.0.0.0:8111", "scale-pc:8111", false},
        {"192.168.1.20:8111", "192.168.1.20:8111", true},
        {"192.168.1.20:8111", "10.0.0.1:8111", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.listen) + " Host: " + row.host);
        EXPECT_EQ(hostAllowed(row.host, policyFor(row.listen)), row.allowed);
    }
    EXPECT_TRUE(hostAllowed("Scale-PC:8111", policyFor("0.0.0.0:8111", {}, {"scale-pc"})));
}

TEST(AccessPolicy, OneWellFormedHostAndAtMostOneOrigin) {
    const AccessPolicy policy = policyFor("127.0.0.1:8111");
    const AccessPolicy all = policyFor("[::]:8111");
    using H = std::vector<std::string_view>;
    struct Row {
        H hosts;
        H origins;
        Access access;
        const AccessPolicy* policy = nullptr;
    };
    const Row rows[] = {
        {{"localhost:8111"}, {}, Access::allowed},
        {{"localhost:"}, {}, Access::allowed}, // an empty port is still a port
        {{"localhost:8111"}, {"http://localhost:8111"}, Access::allowed},
        {{}, {}, Access::badRequest},
        {{""}, {}, Access::badRequest},
        {{"localhost:8111", "evil.example"}, {}, Access::badRequest},
        {{"localhost:8111", "localhost:8111"}, {}, Access::badRequest},
        {{"localhost:evil.com"}, {}, Access::badRequest},
        {{"127.0.0.1:8111.evil.com"}, {}, Access::badRequest},
        {{"localhost:8111:evil"}, {}, Access::badRequest},
        {{"localhost:65536"}, {}, Access::badRequest},
        {{"local host"}, {}, Access::badRequest},
        {{"localhost/x"}, {}, Access::badRequest},
        {{"user@localhost"}, {}, Access::badRequest},
        {{"localhost%2"}, {}, Access::badRequest},
        {{"[127.0.0.1]"}, {}, Access::badRequest},
        {{"[127.0.0.1].evil.com"}, {}, Access::badRequest},
        {{"[localhost]"}, {}, Access::badRequest},
        {{"[::]:abc"}, {}, Access::badRequest, &all},
        {{"[::1]x"}, {}, Access::badRequest, &all},
        {{"::1"}, {}, Access::badRequest, &all},
        {{"[::1]:8111"}, {}, Access::allowed, &all},
        {{"evil.example:8111"}, {}, Access::forbidden},
        {{"localhost%2eevil.example"}, {}, Access::forbidden}, // well formed, another name
        {{"localhost:8111"}, {"http://localhost:8111", "http://localhost:8111"}, Access::forbidden},
        {{"localhost:8111"}, {"http://evil.example"}, Access::forbidden},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.hosts) + ::testing::PrintToString(row.origins));
        EXPECT_EQ(checkAccess(row.hosts, row.origins, row.policy ? *row.policy : policy).access,
                  row.access);
    }
}

TEST(AccessPolicy, OriginMustBeThePagesOwnOrAllowed) {
    const AccessPolicy policy = policyFor("127.0.0.1:8111", {"http://app.example:8080"});
    struct Row {
        std::optional<std::string_view> origin;
        const char* host;
        bool allowed;
    };
    const Row rows[] = {
        {std::nullopt, "127.0.0.1:8111", true}, // a program, not a page
        {"http://127.0.0.1:8111", "127.0.0.1:8111", true},
        {"http://localhost:8111", "localhost:8111", true},
        {"http://localhost:8111", "127.0.0.1:8111", false}, // another origin than the page's
        {"https://127.0.0.1:8111", "127.0.0.1:8111", false},
        {"http://app.example:8080", "127.0.0.1:8111", true},
        {"HTTP://APP.EXAMPLE:8080", "127.0.0.1:8111", true},
        {"http://app.example:8081", "127.0.0.1:8111", false},
        {"http://evil.example", "127.0.0.1:8111", false},
        {"null", "127.0.0.1:8111", false},
        {"", "127.0.0.1:8111", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.origin.value_or("(none)")) + " Host: " + row.host);
        EXPECT_EQ(originAllowed(row.origin, row.host, policy), row.allowed);
    }
}

Reading sampleReading() {
    Reading reading;
    reading.text = "12.5";
    reading.value = 12.5;
    reading.stable = true;
    reading.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1500));
    return reading;
}

TEST(WebMessages, ReadingAndPortMessages) {
    EXPECT_EQ(readingMessage(sampleReading(), 7),
              R"({"type":"reading","seq":7,"weight":"12.5","value":12.5,"stable":true,)"
              R"("time":"1970-01-01T00:00:01.500Z"})");
    PortStatus waiting{PortStatus::State::waiting, "/dev/ttyUSB0",
                       "/dev/ttyUSB0: No such file or directory"};
    EXPECT_EQ(portMessage(waiting), R"({"type":"port","state":"waiting","device":"/dev/ttyUSB0",)"
                                    R"("error":"/dev/ttyUSB0: No such file or directory",)"
                                    R"("message":"waiting for the device",)"
                                    R"("hint":null,"diagnosis":null})");
    PortStatus connected{PortStatus::State::connected, "/dev/ttyUSB0", "", "", "bytes, no weight"};
    EXPECT_EQ(portMessage(connected), R"({"type":"port","state":"connected",)"
                                      R"("device":"/dev/ttyUSB0","error":null,)"
                                      R"("message":"connected","hint":null,)"
                                      R"("diagnosis":"bytes, no weight"})");
    PortStatus blocked{PortStatus::State::blocked, "/dev/ttyUSB0", "denied", "join dialout"};
    EXPECT_EQ(portMessage(blocked), R"({"type":"port","state":"blocked","device":"/dev/ttyUSB0",)"
                                    R"("error":"denied","message":"the device cannot be used",)"
                                    R"("hint":"join dialout","diagnosis":null})");
}

TEST(WebMessages, WeightAnswerHasTheAgeAndThePort) {
    const PortStatus connected{PortStatus::State::connected, "/dev/ttyS0", ""};
    const auto now = std::chrono::system_clock::time_point(std::chrono::milliseconds(1750));
    const Reading reading = sampleReading();
    auto answer = nlohmann::json::parse(weightAnswer(&reading, 7, connected, now));
    EXPECT_EQ(answer["ageMs"], 250);
    EXPECT_EQ(answer["weight"], "12.5");
    EXPECT_EQ(answer["seq"], 7);
    EXPECT_EQ(answer["port"]["state"], "connected");
    // Before the first reading every reading field is null, and the port still answers.
    auto empty = nlohmann::json::parse(weightAnswer(nullptr, 0, connected, now));
    for (const char* key : {"seq", "weight", "value", "time", "ageMs"})
        EXPECT_TRUE(empty[key].is_null()) << key;
    EXPECT_EQ(empty["stable"], false);
    EXPECT_EQ(empty["port"]["device"], "/dev/ttyS0");
}

TEST(WebMessages, SseEventsCarryTheTypeTheIdAndOneDataLine) {
    EXPECT_EQ(sseEvent("reading", 3, "{\"a\":1}"), "event: reading\nid: 3\ndata: {\"a\":1}\n\n");
    EXPECT_EQ(sseEvent("port", std::nullopt, "{}"), "event: port\ndata: {}\n\n");
}

TEST(WebMessages, WebSocketFramesTellTheLengthInTheShortestForm) {
    const std::pair<size_t, std::string> rows[] = {
        {0, std::string("\x81\x00", 2)},
        {125, "\x81\x7d"},
        {126, std::string("\x81\x7e\x00\x7e", 4)},
        {65535, "\x81\x7e\xff\xff"},
        {65536, std::string("\x81\x7f\0\0\0\0\0\x01\0\0", 10)},
    };
    for (const auto& [size, head] : rows)
        EXPECT_EQ(webSocketTextFrame(std::string(size, 'x')), head + std::string(size, 'x'))
            << size;
}

} // namespace
} // namespace tolvak::cli
