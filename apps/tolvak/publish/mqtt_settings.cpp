#include "tolvak/publish/mqtt_settings.h"

#include "tolvak/publish/mqtt_publisher.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace tolvak::cli {

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

void bindMqttOptions(Options& options, MqttSettings& s) {
    // The --mqtt-... options given, which mean nothing without --mqtt.
    auto given = std::make_shared<std::vector<std::string>>();
    const auto value = [&options, given](const char* name, const char* valueName, const char* help,
                                         Options::Reader read) {
        options.value(name, valueName, help, [given, name, read](const std::string& v) {
            given->push_back(name);
            read(v);
        });
    };
    options.value("--mqtt", "URL",
                  !mqttBuiltIn() ? "not built into this tolvak (no libmosquitto)"
                  : mqttTlsBuiltIn()
                      ? "publish readings and weighings to an MQTT broker: mqtt://HOST[:PORT] "
                        "(1883) or mqtts://HOST[:PORT] (8883, TLS)"
                      : "publish readings and weighings to an MQTT broker: mqtt://HOST[:PORT] "
                        "(1883); this tolvak has no TLS, so no mqtts://",
                  [&s](const std::string& url) {
                      s.enabled = true;
                      s.tls = false;
                      s.port = 1883;
                      parseUrl(url, s);
                  });
    value("--mqtt-ca", "FILE",
          "the certificate authority of an mqtts:// broker (default the system's)",
          [&s](const std::string& v) { s.caFile = v; });
    auto passwordFile = std::make_shared<bool>(false);
    value("--mqtt-user", "NAME", "the user name to log in to the broker with",
          [&s](const std::string& v) { s.user = v; });
    value("--mqtt-password-file", "FILE",
          "the password's file (default $TOLVAK_MQTT_PASSWORD; never on the command line)",
          [&s, passwordFile](const std::string& v) {
              s.password = readPassword(v);
              *passwordFile = true;
          });
    value("--mqtt-site", "NAME", "this site in the topics (default this computer's name)",
          [&s](const std::string& v) { s.site = topicLevel("--mqtt-site", v, false); });
    value("--mqtt-prefix", "TEXT", "the topics' first level (default tolvak)",
          [&s](const std::string& v) { s.prefix = topicLevel("--mqtt-prefix", v, true); });
    value("--mqtt-readings", "all|changes|none",
          "the readings published on PREFIX/SITE/SCALE/reading (default all)",
          [&s](const std::string& v) {
              if (v == "all")
                  s.readings = MqttSettings::Readings::all;
              else if (v == "changes")
                  s.readings = MqttSettings::Readings::changes;
              else if (v == "none")
                  s.readings = MqttSettings::Readings::none;
              else
                  throw UsageError("--mqtt-readings: '" + v + "' is not all, changes or none");
          });
    value("--mqtt-store", "DIR",
          "where weighings wait while the broker is away (default $STATE_DIRECTORY, else "
          "~/.local/state/tolvak; on Windows %LOCALAPPDATA%\\tolvak)",
          [&s](const std::string& v) { s.storeDir = v; });
    options.flag("--mqtt-commands",
                 "take zero, tare and print from PREFIX/SITE/SCALE/command/NAME (with "
                 "--allow-commands)",
                 s.commands);
    options.alsoRead("--mqtt-commands",
                     [given](const std::string&) { given->push_back("--mqtt-commands"); });
    options.check([&s, given, passwordFile] {
        if (!s.enabled) {
            if (!given->empty()) throw UsageError(given->front() + " goes with --mqtt");
            return;
        }
        if (!s.caFile.empty() && !s.tls) throw UsageError("--mqtt-ca goes with an mqtts:// broker");
        if (!*passwordFile)
            if (const char* env = std::getenv("TOLVAK_MQTT_PASSWORD")) s.password = env;
        const bool userGiven =
            std::find(given->begin(), given->end(), "--mqtt-user") != given->end();
        if (s.user.empty() && (*passwordFile || userGiven))
            throw UsageError("--mqtt-user: a password needs a user name, and it must not be empty");
    });
}

} // namespace tolvak::cli
