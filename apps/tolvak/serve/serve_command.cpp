#include "tolvak/serve/serve_command.h"

#include <exception>
#include <map>
#include <mutex>
#include <ostream>

#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/feed_options.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/detect/auto_format.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/output/text_format.h"
#include "tolvak/publish/mqtt_publisher.h"
#include "tolvak/serve/messages.h"
#include "tolvak/serve/scale_runner.h"
#include "tolvak/serve/token.h"
#include "tolvak/serve/web_server.h"

namespace tolvak::cli {

namespace {

// The scales' MQTT publishers, a sink beside the web server: each scale's readings go to its own
// publisher (its own connection, so that the broker's last will marks that scale offline), in the
// server's JSON and numbered as the server numbers them. Filled before the scales start.
class MqttSink : public ScaleSink {
  public:
    void add(const std::string& scale, std::unique_ptr<MqttPublisher> publisher) {
        m_scales[scale].publisher = std::move(publisher);
    }
    void start() {
        for (auto& [name, scale] : m_scales)
            scale.publisher->start();
    }
    void stop() {
        for (auto& [name, scale] : m_scales)
            scale.publisher->stop();
    }
    // On the scale's own thread, so each scale's entry is touched by one thread only.
    void onReading(const std::string& name, const Reading& reading) override {
        const auto it = m_scales.find(name);
        if (it != m_scales.end())
            it->second.publisher->reading(reading, readingMessage(reading, ++it->second.seq));
    }
    void onPortState(const std::string& name, const PortStatus& port) override {
        const auto it = m_scales.find(name);
        if (it != m_scales.end()) it->second.publisher->port(portMessage(port));
    }

  private:
    struct Scale {
        std::unique_ptr<MqttPublisher> publisher;
        uint64_t seq = 0;
    };
    std::map<std::string, Scale> m_scales;
};

std::string urlHost(const ListenAddress& listen) {
    return listen.wildcard ? "localhost" : urlAddress(listen.address);
}

} // namespace

void bindServeOptions(Options& options, ServeSettings& settings) {
    bindControlOptions(options, settings.control);
    AccessPolicy& policy = settings.policy;
    policy.listen = parseListenAddress("127.0.0.1:8111");
    options.value(
        "--listen", "ADDR:PORT",
        "address to serve on (default 127.0.0.1:8111; [::1]:8111 for IPv6; port 0 picks one)",
        [&policy](const std::string& v) { policy.listen = parseListenAddress(v); });
    options.value("--allow-origin", "ORIGIN",
                  "a web page origin (http://app.example:8080) that may read the weight (API, "
                  "events, WebSocket); repeatable; 'null' is refused",
                  [&policy](const std::string& v) {
                      policy.allowOrigins.push_back(normalizeOrigin("--allow-origin", v));
                  });
    options.value("--allow-host", "NAME",
                  "a host name this server may be reached by, besides localhost; repeatable",
                  [&policy](const std::string& v) { policy.allowHosts.push_back(v); });
    ServerLimits& limits = settings.limits;
    options.value("--max-clients", "N",
                  "event streams and WebSockets at once (default 64); 8 connections more are "
                  "kept for short requests",
                  [&limits](const std::string& v) {
                      limits.maxClients =
                          static_cast<size_t>(parseWhole("--max-clients", v, 1, 100000));
                  });
    options.value("--client-buffer", "KIB",
                  "data queued for one client before it is dropped as too slow (default 1024)",
                  [&limits](const std::string& v) {
                      limits.clientBuffer =
                          static_cast<size_t>(parseWhole("--client-buffer", v, 1, 1 << 20)) * 1024;
                  });
    options.flag("--allow-commands",
                 "POST /api/zero, /api/tare and /api/print send the format's command to the "
                 "indicator (from programs and this server's own page; other pages need "
                 "--allow-commands-from)",
                 settings.commands);
    options.value("--allow-commands-from", "ORIGIN",
                  "a web page origin that may also send commands (and read); repeatable",
                  [&policy](const std::string& v) {
                      policy.commandOrigins.push_back(normalizeOrigin("--allow-commands-from", v));
                  });
    options.value("--token-file", "FILE",
                  "commands must bear the token in FILE (Authorization: Bearer TOKEN; 'tolvak "
                  "token FILE' makes or renews it); needed with --allow-commands on any address "
                  "but loopback",
                  [&settings](const std::string& v) {
                      if (v.empty()) throw UsageError("--token-file: the file's name is empty");
                      settings.tokenFile = v;
                  });
    bindStableOptions(options, settings.feed.stable);
    bindPollOptions(options, settings.feed);
    bindScaleList(options, settings.scales);
    bindMqttOptions(options, settings.mqtt);
    options.flag("--simulate",
                 "the demo's truck instead of an indicator, zero, tare and print obeyed: try "
                 "the server and a web page without a scale",
                 settings.simulate);
    options.check([&settings, &options] {
        if (settings.scales.empty()) return;
        // Either every scale has its own settings or there is one scale.
        if (settings.simulate)
            throw UsageError("--simulate with --scale: give the scale as --scale NAME=simulate");
        if (const auto option = scaleOptionOutside(options.givenWords(0)))
            throw UsageError(*option + " with --scale: give it to its scale, as --scale NAME=" +
                             (*option == "--device" ? std::string("DEVICE")
                                                    : "DEVICE," + option->substr(2) + "=VALUE"));
        settings.start.needsDevice = false;
    });
    options.check([&settings] {
        if (!settings.simulate) return;
        if (settings.control.device) throw UsageError("--simulate reads no --device");
        settings.start.needsDevice = false;
    });
    // Last, so that a mistake in the options above is told first.
    bindStartOptions(options, settings.start, settings.control);
    options.check([&settings] {
        if (settings.mqtt.enabled && !mqttBuiltIn())
            throw UsageError("--mqtt: this tolvak is built without MQTT");
        if (settings.mqtt.tls && !mqttTlsBuiltIn())
            throw UsageError("--mqtt: this tolvak is built without TLS: mqtts:// is not available");
        if (settings.mqtt.commands && !settings.commands)
            throw UsageError("--mqtt-commands goes with --allow-commands");
        if (!settings.policy.commandOrigins.empty() && !settings.commands)
            throw UsageError("--allow-commands-from goes with --allow-commands");
        // Programs send no Origin, and any address will do as Host on a wildcard listener: on a
        // network only the token tells who may zero or tare.
        if (settings.commands && !settings.policy.listen.loopback && !settings.tokenFile)
            throw UsageError("--allow-commands on " + settings.policy.listen.address +
                             " needs --token-file: anyone on the network could zero or tare the "
                             "scale (tolvak token FILE makes one)");
    });
}

std::vector<ScaleSetup> serveScales(const ServeSettings& settings) {
    std::vector<ScaleSetup> scales = settings.scales;
    if (scales.empty()) {
        ScaleSetup one;
        one.name = kDefaultScaleName;
        one.control = settings.control;
        one.start = settings.start;
        one.feed = settings.feed;
        one.simulated = settings.simulate;
        scales.push_back(std::move(one));
    }
    for (ScaleSetup& scale : scales) {
        scale.start.quiet = settings.start.quiet;
        scale.feed.follow = true; // a bridge keeps running whatever the device does
    }
    return scales;
}

int runServe(const ServeSettings& settings, std::ostream& out, std::ostream& err) {
    const AccessPolicy& policy = settings.policy;
    if (!policy.listen.loopback)
        err << "tolvak serve: warning: listening on " << policy.listen.address
            << ": every computer that can reach it can read the scale\n";

    const std::vector<ScaleSetup> scales = serveScales(settings);
    const bool named = !settings.scales.empty(); // what is said names the scale
    std::vector<std::string> names;
    size_t defaultScale = 0;
    for (const ScaleSetup& setup : scales) {
        if (setup.name == kDefaultScaleName) defaultScale = names.size();
        names.push_back(setup.name);
    }
    // Made before the server and so gone after it: the server's last answers to commands go out
    // through it.
    MqttSink mqtt;
    std::unique_ptr<WebServer> server;
    try {
        server = std::make_unique<WebServer>(policy, settings.limits, names, defaultScale);
    } catch (const std::exception& e) {
        err << "tolvak serve: cannot listen on " << urlAddress(policy.listen.address) << ':'
            << policy.listen.port << ": " << e.what() << '\n';
        return kExitFailure;
    }
    out << "tolvak serve: http://" << urlHost(policy.listen) << ':' << server->port() << '/'
        << std::endl;
    StopRequest::Registration stopRequest([&] { server->stop(); });
    // The server, the scales and the broker's threads all say things: one line at a time.
    std::mutex log;
    const auto say = [&log, &err](const std::string& line) {
        std::lock_guard<std::mutex> lock(log);
        err << "tolvak serve: " + line + "\n" << std::flush;
    };
    server->onNotice(say);

    // Each scale reads on a thread of its own; readings cross to the server's thread through its
    // queue, so that neither a client nor another scale can slow a reader down. The start lines
    // (and --device auto) are said here first, in the order given.
    std::vector<std::unique_ptr<ScaleRunner>> runners;
    for (const ScaleSetup& setup : scales) {
        const std::string command = named ? "serve: " + setup.name : "serve";
        FeedStart start;
        if (!setup.simulated)
            start = feedStart(command, setup.control, setup.start, err);
        else if (!setup.start.quiet)
            err << "tolvak " << command << ": the demo's truck, simulated: no indicator is read"
                << std::endl;
        runners.push_back(std::make_unique<ScaleRunner>(
            setup, std::move(start), std::vector<ScaleSink*>{server.get(), &mqtt}, command, err,
            log));
    }
    std::vector<std::vector<std::string>> commands(runners.size());
    if (settings.commands) {
        bool any = false;
        for (size_t i = 0; i < runners.size(); ++i) {
            commands[i] = runners[i]->commands();
            any = any || !commands[i].empty();
            if (commands[i].empty())
                err << "tolvak serve: warning: "
                    << (named ? runners[i]->name() + ": " : std::string()) << "format "
                    << runners[i]->formatName() << " has no commands\n";
        }
        std::function<std::string()> token;
        if (settings.tokenFile) {
            // Read at every command, so that a new token takes effect without a restart.
            token = [file = *settings.tokenFile] { return readToken(file); };
            try {
                token();
            } catch (const std::exception& e) {
                err << "tolvak serve: --token-file " << e.what() << '\n';
                return kExitFailure;
            }
        } else if (any) {
            err << "tolvak serve: commands without a token: every program on this computer "
                   "may zero or tare (see --token-file)\n";
        }
        server->setCommands(
            commands,
            [&runners](size_t scale, const std::string& name, WebServer::Written done) {
                runners[scale]->command(name, std::move(done));
            },
            token);
    }
    std::mutex mqttFailureMutex;
    std::string mqttFailure;
    if (settings.mqtt.enabled) {
        for (size_t i = 0; i < runners.size(); ++i) {
            const std::string& name = runners[i]->name();
            const std::string prefix = named ? name + ": " : std::string();
            MqttPublisher::Hooks hooks;
            if (settings.mqtt.commands) hooks.commands = commands[i];
            hooks.submit = [&server, name](const std::string& command,
                                           MqttPublisher::Answer answer) {
                server->submitCommand(name, command, std::move(answer));
            };
            hooks.log = [say, prefix](const std::string& line) { say(prefix + line); };
            hooks.fatal = [&, prefix](const std::string& line) {
                say(prefix + line);
                std::lock_guard<std::mutex> lock(mqttFailureMutex);
                mqttFailure = line;
                server->stop();
            };
            try {
                mqtt.add(name, std::make_unique<MqttPublisher>(settings.mqtt, name, hooks));
            } catch (const std::exception& e) {
                err << "tolvak serve: --mqtt: " << e.what() << '\n';
                return kExitFailure;
            }
        }
        mqtt.start();
    }
    for (auto& runner : runners)
        runner->start();
    server->run();
    for (auto& runner : runners)
        runner->stop();
    runners.clear(); // waits for every reader
    mqtt.stop();
    std::lock_guard<std::mutex> lock(mqttFailureMutex);
    return mqttFailure.empty() ? kExitOk : kExitFailure;
}

Run bindServe(Options& options) {
    auto settings = std::make_shared<ServeSettings>();
    bindServeOptions(options, *settings);
    return
        [settings](std::ostream& out, std::ostream& err) { return runServe(*settings, out, err); };
}

} // namespace tolvak::cli
