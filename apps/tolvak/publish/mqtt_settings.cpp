#include "tolvak/publish/mqtt_settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tolvak::cli {

std::vector<OptionDef> mqttOptionDefs() {
    return {
        {"--mqtt", "URL",
         "publish readings and weighings to an MQTT broker: mqtt://HOST[:PORT] (1883) or "
         "mqtts://HOST[:PORT] (8883, TLS)"},
        {"--mqtt-ca", "FILE",
         "the certificate authority of an mqtts:// broker (default the system's)"},
        {"--mqtt-user", "NAME", "the user name to log in to the broker with"},
        {"--mqtt-password-file", "FILE",
         "the password's file (default $TOLVAK_MQTT_PASSWORD; never on the command line)"},
        {"--mqtt-site", "NAME", "this site in the topics (default this computer's name)"},
        {"--mqtt-prefix", "TEXT", "the topics' first level (default tolvak)"},
        {"--mqtt-readings", "all|changes|none",
         "the readings published on PREFIX/SITE/SCALE/reading (default all)"},
        {"--mqtt-store", "DIR",
         "where weighings wait while the broker is away (default $STATE_DIRECTORY, else "
         "~/.local/state/tolvak; on Windows %LOCALAPPDATA%\\tolvak)"},
        {"--mqtt-commands", "",
         "take zero, tare and print from PREFIX/SITE/SCALE/command/NAME (with --allow-commands)"},
    };
}

namespace {

// A topic level must not hold the wildcards or the separator, nor be empty.
std::string topicLevel(const std::string& option, const std::string& text, bool levels) {
    if (text.empty() || text.find_first_of(levels ? "+#" : "+#/") != std::string::npos ||
        text.front() == '/' || text.back() == '/')
        throw UsageError(option + ": '" + text + "' is not a topic level (no '+', '#'" +
                         (levels ? ", nor '/' at either end)" : " or '/')"));
    return text;
}

void parseUrl(const std::string& url, MqttSettings& s) {
    const std::string why =
        "--mqtt: '" + url + "' is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        s.tls = true;
        s.port = 8883;
    } else {
        throw UsageError(why);
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    size_t hostEnd = rest.rfind(':');
    if (!rest.empty() && rest.front() == '[') { // [::1]:1883
        const size_t close = rest.find(']');
        if (close == std::string::npos) throw UsageError(why);
        s.host = rest.substr(1, close - 1);
        hostEnd = close + 1 < rest.size() ? close + 1 : std::string::npos;
        if (hostEnd != std::string::npos && rest[hostEnd] != ':') throw UsageError(why);
    } else {
        s.host = rest.substr(0, hostEnd);
    }
    if (hostEnd != std::string::npos)
        s.port = static_cast<uint16_t>(parseWhole("--mqtt", rest.substr(hostEnd + 1), 1, 65535));
    if (s.host.empty() || s.host.find_first_of("/@?# ") != std::string::npos) throw UsageError(why);
}

std::string readPassword(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    if (!in || !(text << in.rdbuf())) throw UsageError("--mqtt-password-file: cannot read " + file);
    std::string password = text.str();
    // The line end an editor adds is not part of it.
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r'))
        password.pop_back();
    return password;
}

} // namespace

MqttSettings mqttSettings(const ParsedArgs& args) {
    MqttSettings s;
    const auto url = args.value("--mqtt");
    if (!url) {
        for (const auto& def : mqttOptionDefs())
            if (args.has(def.name)) throw UsageError(def.name + " goes with --mqtt");
        return s;
    }
    s.enabled = true;
    parseUrl(*url, s);
    if (auto ca = args.value("--mqtt-ca")) {
        if (!s.tls) throw UsageError("--mqtt-ca goes with an mqtts:// broker");
        s.caFile = *ca;
    }
    s.user = args.value("--mqtt-user").value_or("");
    if (auto file = args.value("--mqtt-password-file")) {
        s.password = readPassword(*file);
    } else if (const char* env = std::getenv("TOLVAK_MQTT_PASSWORD")) {
        s.password = env;
    }
    if (s.user.empty() && (args.has("--mqtt-password-file") || args.has("--mqtt-user")))
        throw UsageError("--mqtt-user: a password needs a user name, and it must not be empty");
    if (auto site = args.value("--mqtt-site")) s.site = topicLevel("--mqtt-site", *site, false);
    if (auto prefix = args.value("--mqtt-prefix"))
        s.prefix = topicLevel("--mqtt-prefix", *prefix, true);
    if (auto readings = args.value("--mqtt-readings")) {
        if (*readings == "all")
            s.readings = MqttSettings::Readings::all;
        else if (*readings == "changes")
            s.readings = MqttSettings::Readings::changes;
        else if (*readings == "none")
            s.readings = MqttSettings::Readings::none;
        else
            throw UsageError("--mqtt-readings: '" + *readings + "' is not all, changes or none");
    }
    s.storeDir = args.value("--mqtt-store").value_or("");
    s.commands = args.has("--mqtt-commands");
    if (s.commands && !args.has("--allow-commands"))
        throw UsageError("--mqtt-commands goes with --allow-commands");
    return s;
}

} // namespace tolvak::cli
