#include "tolvak/serve/serve_command.h"

#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

#include "acquisition/formats/format.h"
#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/feed_options.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/detect/auto_format.h"
#include "tolvak/feed/port_problems.h"
#include "tolvak/feed/receive_errors.h"
#include "tolvak/feed/scale_feed.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/output/text_format.h"
#include "tolvak/publish/mqtt_publisher.h"
#include "tolvak/serve/messages.h"
#include "tolvak/serve/token.h"
#include "tolvak/serve/web_server.h"
#include "tolvak/simulator/simulated_scale.h"

namespace tolvak::cli {

namespace {

// The name the one scale of this server goes by in its MQTT topics.
const char kScaleName[] = "scale";

std::string urlHost(const ListenAddress& listen) {
    return listen.wildcard ? "localhost" : urlAddress(listen.address);
}

} // namespace

void bindServeOptions(Options& options, ServeSettings& settings) {
    bindControlOptions(options, settings.control);
    settings.feed.follow = true; // a bridge keeps running whatever the device does
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
    bindMqttOptions(options, settings.mqtt);
    options.flag("--simulate",
                 "the demo's truck instead of an indicator, zero, tare and print obeyed: try "
                 "the server and a web page without a scale",
                 settings.simulate);
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

int runServe(const ServeSettings& settings, std::ostream& out, std::ostream& err) {
    // Named, not bound: the reader's lambda uses them, and C++17 lambdas cannot capture bindings.
    const FeedOptions& options = settings.feed;
    const AccessPolicy& policy = settings.policy;
    const ServerLimits& limits = settings.limits;

    if (!policy.listen.loopback)
        err << "tolvak serve: warning: listening on " << policy.listen.address
            << ": every computer that can reach it can read the scale\n";

    // Made before the server and so gone after it: the server's last answers to commands go out
    // through it.
    std::unique_ptr<MqttPublisher> publisher;
    std::unique_ptr<WebServer> server;
    try {
        server = std::make_unique<WebServer>(policy, limits);
    } catch (const std::exception& e) {
        err << "tolvak serve: cannot listen on " << urlAddress(policy.listen.address) << ':'
            << policy.listen.port << ": " << e.what() << '\n';
        return kExitFailure;
    }
    out << "tolvak serve: http://" << urlHost(policy.listen) << ':' << server->port() << '/'
        << std::endl;
    StopRequest::Registration stopRequest([&] { server->stop(); });
    // One insertion per line, so that it stays whole beside the reader's lines.
    server->onNotice([&err](const std::string& line) {
        err << "tolvak serve: " + line + "\n" << std::flush;
    });

    // The serial side runs on its own thread, which makes the scale and so owns it (on Windows
    // its events come to the thread that made it); readings cross to the server's thread through
    // its queue, so no client can slow the reader down.
    FeedStart start;
    if (settings.simulate) {
        if (!settings.start.quiet)
            err << "tolvak serve: the demo's truck, simulated: no indicator is read" << std::endl;
    } else {
        start = feedStart("serve", settings.control, settings.start, err);
    }
    const ScaleOptions& scale = start.scale;
    SimulatedScale* simulated = nullptr; // while it runs, instead of a feed
    std::mutex feedMutex;
    ScaleFeed* running = nullptr;
    bool finished = false;
    std::string sendError; // the reader's thread only: why the last command was not sent
    std::vector<std::string> names;
    if (settings.commands) {
        // Only the commands the format's protocol has are offered; a format still to be picked
        // is offered all three, and the scale refuses those its protocol lacks.
        const formats::Format* format = formats::findFormat(scale.format.format);
        const auto bytes = [format](const std::string formats::Commands::*command) {
            return format ? format->commands.*command : std::string("?");
        };
        const std::map<std::string, std::pair<Scale::Command, std::string>> kCommands = {
            {"zero", {Scale::Command::Zero, bytes(&formats::Commands::zero)}},
            {"tare", {Scale::Command::Tare, bytes(&formats::Commands::tare)}},
            {"print", {Scale::Command::Print, bytes(&formats::Commands::print)}}};
        for (const auto& [name, command] : kCommands)
            if (!command.second.empty() || settings.simulate) names.push_back(name);
        if (names.empty())
            err << "tolvak serve: warning: format " << format->name << " has no commands\n";
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
        } else if (!names.empty()) {
            err << "tolvak serve: commands without a token: every program on this computer "
                   "may zero or tare (see --token-file)\n";
        }
        server->setCommands(
            names,
            [&, kCommands](const std::string& name, WebServer::Written done) {
                std::lock_guard<std::mutex> lock(feedMutex);
                if (simulated) {
                    // Written, then obeyed: the answer is the reading that follows.
                    return simulated->post([sim = simulated, kCommands, name, done] {
                        done(std::nullopt);
                        sim->command(kCommands.at(name).first);
                    });
                }
                if (!running) return done("the port is not open");
                ScaleFeed& feed = *running;
                feed.post([&feed, &sendError, kCommands, name, done] {
                    if (!feed.scale().isOpen()) return done("the port is not open");
                    sendError = "the line did not take it";
                    if (!feed.scale().sendCommand(kCommands.at(name).first)) return done(sendError);
                    done(std::nullopt);
                });
            },
            token);
    }
    std::mutex mqttFailureMutex;
    std::string mqttFailure;
    if (settings.mqtt.enabled) {
        MqttPublisher::Hooks hooks;
        if (settings.mqtt.commands) hooks.commands = names;
        hooks.submit = [&](const std::string& name, MqttPublisher::Answer answer) {
            server->submitCommand(name, std::move(answer));
        };
        hooks.log = [&](const std::string& line) { err << "tolvak serve: " << line << std::endl; };
        hooks.fatal = [&](const std::string& line) {
            err << "tolvak serve: " << line << std::endl;
            std::lock_guard<std::mutex> lock(mqttFailureMutex);
            mqttFailure = line;
            server->stop();
        };
        try {
            publisher = std::make_unique<MqttPublisher>(settings.mqtt, kScaleName, hooks);
        } catch (const std::exception& e) {
            err << "tolvak serve: --mqtt: " << e.what() << '\n';
            return kExitFailure;
        }
        publisher->start();
    }
    uint64_t seq = 0; // as the server numbers them, for the same message
    const auto postReading = [&](const Reading& reading) {
        server->postReading(reading);
        if (publisher) publisher->reading(reading, readingMessage(reading, ++seq));
    };
    const auto postPort = [&](const PortStatus& port) {
        server->postPort(port);
        if (publisher) publisher->port(portMessage(port));
    };
    std::thread reader([&] {
        if (settings.simulate) {
            SimulatedScale sim;
            sim.onReading(postReading);
            postPort({PortStatus::State::connected, "simulated", "", "", ""});
            {
                std::lock_guard<std::mutex> lock(feedMutex);
                if (finished) return;
                simulated = &sim;
            }
            sim.run();
            std::lock_guard<std::mutex> lock(feedMutex);
            simulated = nullptr;
            return;
        }
        FeedOptions feedOptions = options;
        feedOptions.settle = start.settle;
        ScaleFeed feed(scale, feedOptions);
        PortStatus said;
        ReceiveErrorReport errors("serve", err, nullptr);
        feed.onError([&](const Error& e) {
            // Open errors are the port's state, told below; a command that could not be sent
            // is answered 502 with the reason, and said here as what it is.
            if (e.source == Error::Source::Receive)
                errors.show(AutomationError(e.number, fromUtf8(e.description)));
            if (e.source == Error::Source::Send) {
                sendError = e.description;
                err << "tolvak serve: a command could not be sent: " << e.description << '\n';
            }
        });
        feed.onReading(postReading);
        feed.onNotice([&](const std::string& notice) { err << notice << '\n' << std::flush; });
        feed.onPortStatus([&](const PortStatus& port) {
            postPort(port);
            if (sayPortChange(err, "serve", port, said) &&
                port.state == PortStatus::State::connected)
                err << "tolvak serve: " << port.device << ": connected\n" << std::flush;
        });
        postPort(feed.port());
        {
            std::lock_guard<std::mutex> lock(feedMutex);
            if (finished) return;
            running = &feed;
        }
        feed.start();
        feed.run();
        {
            std::lock_guard<std::mutex> lock(feedMutex);
            running = nullptr;
        }
        feed.close();
    });
    server->run();
    {
        std::lock_guard<std::mutex> lock(feedMutex);
        finished = true;
        if (running) running->stop();
        if (simulated) simulated->stop();
    }
    reader.join();
    if (publisher) publisher->stop();
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
