#include "tolvak/serve.h"

#include <exception>
#include <map>
#include <ostream>
#include <thread>

#include "text/utf8.h"
#include "tolvak/commands.h"
#include "tolvak/control_options.h"
#include "tolvak/receive_errors.h"
#include "tolvak/scale_feed.h"
#include "tolvak/text_format.h"
#include "tolvak/web_server.h"

namespace tolvak::cli {

std::vector<OptionDef> serveOptionDefs() {
    std::vector<OptionDef> defs = controlOptionDefs();
    const std::vector<OptionDef> own = {
        {"--listen", "ADDR:PORT",
         "address to serve on (default 127.0.0.1:8111; [::1]:8111 for IPv6; port 0 picks one)"},
        {"--allow-origin", "ORIGIN",
         "a web page origin (http://app.example:8080) that may use the API and WebSocket; "
         "repeatable"},
        {"--allow-host", "NAME",
         "a host name this server may be reached by, besides localhost; repeatable"},
        {"--max-clients", "N", "connections at once (default 64)"},
        {"--client-buffer", "KIB",
         "data queued for one client before it is dropped as too slow (default 1024)"},
        {"--allow-commands", "",
         "POST /api/zero, /api/tare and /api/print send the format's command to the indicator"},
    };
    defs.insert(defs.end(), own.begin(), own.end());
    defs.insert(defs.end(), stableOptionDefs().begin(), stableOptionDefs().end());
    defs.insert(defs.end(), pollOptionDefs().begin(), pollOptionDefs().end());
    return defs;
}

namespace {

std::string urlHost(const ListenAddress& listen) {
    if (listen.wildcard) return "localhost";
    return listen.address.find(':') == std::string::npos ? listen.address
                                                         : "[" + listen.address + "]";
}

void describe(std::ostream& err, const PortStatus& port) {
    switch (port.state) {
    case PortStatus::State::connected:
        err << "tolvak serve: " << port.device << ": connected\n";
        break;
    case PortStatus::State::waiting:
        err << "tolvak serve: waiting for the device: " << port.error << '\n';
        break;
    case PortStatus::State::closed:
        return;
    }
    err.flush();
}

} // namespace

int runServe(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    if (!args.positional.empty())
        throw UsageError("unexpected argument '" + args.positional.front() + "'");
    checkControlOptions(args);
    FeedOptions options = feedOptions(args);
    options.follow = true; // a bridge keeps running whatever the device does

    AccessPolicy policy;
    policy.listen = parseListenAddress(args.value("--listen").value_or("127.0.0.1:8111"));
    for (const auto& [name, value] : args.options) {
        if (name == "--allow-origin") policy.allowOrigins.push_back(value);
        if (name == "--allow-host") policy.allowHosts.push_back(value);
    }
    ServerLimits limits;
    if (auto text = args.value("--max-clients"))
        limits.maxClients = static_cast<size_t>(parseWhole("--max-clients", *text, 1, 100000));
    if (auto text = args.value("--client-buffer"))
        limits.clientBuffer =
            static_cast<size_t>(parseWhole("--client-buffer", *text, 1, 1 << 20)) * 1024;

    if (!policy.listen.loopback)
        err << "tolvak serve: warning: listening on " << policy.listen.address
            << ": every computer that can reach it can read the scale\n";

    std::unique_ptr<WebServer> server;
    try {
        server = std::make_unique<WebServer>(policy, limits);
    } catch (const std::exception& e) {
        err << "tolvak serve: cannot listen on " << policy.listen.address << ':'
            << policy.listen.port << ": " << e.what() << '\n';
        return kExitFailure;
    }
    out << "tolvak serve: http://" << urlHost(policy.listen) << ':' << server->port() << '/'
        << std::endl;

    // The serial side runs on its own thread; readings cross to the server's thread through
    // its queue, so no client can slow the reader down.
    ScaleFeed feed(scaleOptions(args), options);
    ReceiveErrorReport errors("serve", err, nullptr);
    feed.onError([&](const Error& e) {
        // Open errors are the port's state, told below.
        if (e.source == Error::Source::Receive)
            errors.show(AutomationError(e.number, fromUtf8(e.description)));
    });
    // A command is answered by the next frame the indicator sends after it.
    std::vector<WebServer::Reply> awaitingReply; // the feed's thread only
    feed.onReading([&](const Reading& reading) {
        server->postReading(reading);
        for (auto& reply : awaitingReply)
            reply(200, jsonText({{"reply", readingObject(reading)}}));
        awaitingReply.clear();
    });
    if (args.has("--allow-commands")) {
        static const std::map<std::string, Scale::Command> kCommands = {
            {"zero", Scale::Command::Zero},
            {"tare", Scale::Command::Tare},
            {"print", Scale::Command::Print}};
        std::vector<std::string> names;
        for (const auto& entry : kCommands)
            names.push_back(entry.first);
        server->setCommands(names, [&](const std::string& name, WebServer::Reply reply) {
            feed.post([&, name, reply] {
                if (!feed.scale().isOpen())
                    return reply(503, R"({"error":"the port is not open"})");
                if (!feed.scale().sendCommand(kCommands.at(name)))
                    return reply(501, R"({"error":"the format has no such command"})");
                awaitingReply.push_back(reply);
            });
        });
    }
    feed.onPortStatus([&](const PortStatus& port) {
        server->postPort(port);
        describe(err, port);
    });
    server->postPort(feed.port());
    std::thread reader([&] {
        feed.start();
        feed.run();
        feed.close();
    });
    server->run();
    feed.stop();
    reader.join();
    return kExitOk;
}

} // namespace tolvak::cli
