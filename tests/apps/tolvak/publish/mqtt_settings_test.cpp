// --mqtt and its kin: the broker's address, the defaults, and the mistakes that are usage errors.
#include <gtest/gtest.h>

#include "tolvak/publish/mqtt_settings.h"
#include "tolvak/serve/serve_command.h"

namespace tolvak::cli {
namespace {

TEST(MqttSettings, ReadsTheBrokerAndRefusesMistakes) {
    struct Case {
        std::vector<std::string> args;
        const char* error; // a part of the usage error, or nullptr
        std::string host;
        uint16_t port;
        bool tls;
    };
    const std::vector<Case> cases = {
        {{"--mqtt", "mqtt://broker"}, nullptr, "broker", 1883, false},
        {{"--mqtt", "mqtts://broker.example:9000/"}, nullptr, "broker.example", 9000, true},
        {{"--mqtt", "mqtts://[::1]"}, nullptr, "::1", 8883, true},
        {{"--mqtt", "mqtt://[::1]:1884"}, nullptr, "::1", 1884, false},
        {{"--mqtt", "http://broker"}, "is not mqtt://", "", 0, false},
        {{"--mqtt", "mqtt://broker:0"}, "--mqtt", "", 0, false},
        {{"--mqtt", "mqtt://user@broker"}, "is not mqtt://", "", 0, false},
        {{"--mqtt", "mqtt://"}, "is not mqtt://", "", 0, false},
        {{"--mqtt-site", "yard"}, "goes with --mqtt", "", 0, false},
        {{"--mqtt", "mqtt://b", "--mqtt-ca", "ca.pem"}, "mqtts://", "", 0, false},
        {{"--mqtt", "mqtt://b", "--mqtt-site", "a/b"}, "not a topic level", "", 0, false},
        {{"--mqtt", "mqtt://b", "--mqtt-prefix", "x/#"}, "not a topic level", "", 0, false},
        {{"--mqtt", "mqtt://b", "--mqtt-readings", "some"}, "all, changes or none", "", 0, false},
        {{"--mqtt", "mqtt://b", "--mqtt-commands"}, "--allow-commands", "", 0, false},
        {{"--mqtt", "mqtt://b", "--mqtt-password-file", "/nonexistent"},
         "cannot read",
         "",
         0,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        // As serve binds them, with its own options beside.
        ServeSettings settings;
        settings.start.needsDevice = false;
        Options options;
        bindServeOptions(options, settings);
        if (c.error) {
            try {
                options.parse(c.args);
                ADD_FAILURE() << "no usage error";
            } catch (const UsageError& e) {
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
            continue;
        }
        options.parse(c.args);
        const MqttSettings& s = settings.mqtt;
        EXPECT_EQ(std::make_tuple(s.host, s.port, s.tls), std::make_tuple(c.host, c.port, c.tls));
        EXPECT_EQ(s.prefix, "tolvak");
    }
}

} // namespace
} // namespace tolvak::cli
