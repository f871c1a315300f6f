#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tolvak/cli/options.h"

namespace tolvak::cli {

// Where and what tolvak serve publishes to an MQTT broker.
struct MqttSettings {
    enum class Readings { all, changes, none };

    bool enabled = false; // --mqtt was given
    bool tls = false;     // mqtts://
    std::string host;
    uint16_t port = 1883;
    std::string caFile; // empty: the system's certificate authorities
    std::string user;   // empty: none
    std::string password;
    std::string site; // empty: this computer's name
    std::string prefix = "tolvak";
    Readings readings = Readings::all;
    std::string storeDir; // empty: the service's state folder, else the user's
    bool commands = false;
};

// Binds every --mqtt option; the password from --mqtt-password-file or $TOLVAK_MQTT_PASSWORD
// (never from the command line, where every user of the computer sees it). UsageError for a bad
// value, a file that cannot be read, or an --mqtt-... option without --mqtt.
void bindMqttOptions(Options& options, MqttSettings& settings);

} // namespace tolvak::cli
