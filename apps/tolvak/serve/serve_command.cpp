#include "tolvak/serve/serve_command.h"

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>

#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/feed_options.h"
#include "tolvak/cli/scale_list.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/output/text_format.h"
#include "tolvak/serve/scale_runner.h"
#include "tolvak/serve/token.h"
#include "tolvak/serve/web_server.h"

namespace tolvak::cli {

std::vector<OptionDef> serveOptionDefs() {
    std::vector<OptionDef> defs = controlOptionDefs();
    const std::vector<OptionDef> own = {
        {"--listen", "ADDR:PORT",
         "address to serve on (default 127.0.0.1:8111; [::1]:8111 for IPv6; port 0 picks one)"},
        {"--allow-origin", "ORIGIN",
         "a web page origin (http://app.example:8080) that may read the weight (API, events, "
         "WebSocket); repeatable; 'null' is refused"},
        {"--allow-host", "NAME",
         "a host name this server may be reached by, besides localhost; repeatable"},
        {"--max-clients", "N",
         "event streams and WebSockets at once (default 64); 8 connections more are kept for "
         "short requests"},
        {"--client-buffer", "KIB",
         "data queued for one client before it is dropped as too slow (default 1024)"},
        {"--allow-commands", "",
         "POST /api/zero, /api/tare and /api/print send the format's command to the indicator "
         "(from programs and this server's own page; other pages need --allow-commands-from)"},
        {"--allow-commands-from", "ORIGIN",
         "a web page origin that may also send commands (and read); repeatable"},
        {"--token-file", "FILE",
         "commands must bear the token in FILE (Authorization: Bearer TOKEN; 'tolvak token "
         "FILE' makes or renews it); needed with --allow-commands on any address but loopback"},
    };
    defs.insert(defs.end(), own.begin(), own.end());
    defs.insert(defs.end(), stableOptionDefs().begin(), stableOptionDefs().end());
    defs.insert(defs.end(), pollOptionDefs().begin(), pollOptionDefs().end());
    defs.insert(defs.end(), scaleListOptionDefs().begin(), scaleListOptionDefs().end());
    return defs;
}

namespace {

std::string urlHost(const ListenAddress& listen) {
    return listen.wildcard ? "localhost" : urlAddress(listen.address);
}

struct ServeSettings {
    std::vector<ScaleSetup> scales;
    AccessPolicy policy;
    ServerLimits limits;
    bool commands = false;
    std::optional<std::string> tokenFile;
};

ServeSettings serveSettings(const ParsedArgs& args) {
    if (!args.positional.empty())
        throw UsageError("unexpected argument '" + args.positional.front() + "'");
    ServeSettings settings;
    settings.scales = scaleSetups(args);

    AccessPolicy& policy = settings.policy;
    policy.listen = parseListenAddress(args.value("--listen").value_or("127.0.0.1:8111"));
    for (const auto& [name, value] : args.options) {
        if (name == "--allow-origin") policy.allowOrigins.push_back(normalizeOrigin(name, value));
        if (name == "--allow-commands-from")
            policy.commandOrigins.push_back(normalizeOrigin(name, value));
        if (name == "--allow-host") policy.allowHosts.push_back(value);
    }
    settings.commands = args.has("--allow-commands");
    settings.tokenFile = args.value("--token-file");
    if (settings.tokenFile && settings.tokenFile->empty())
        throw UsageError("--token-file: the file's name is empty");
    if (!policy.commandOrigins.empty() && !settings.commands)
        throw UsageError("--allow-commands-from goes with --allow-commands");
    // Programs send no Origin, and any address will do as Host on a wildcard listener: on a
    // network only the token tells who may zero or tare.
    if (settings.commands && !policy.listen.loopback && !settings.tokenFile)
        throw UsageError("--allow-commands on " + policy.listen.address +
                         " needs --token-file: anyone on the network could zero or tare the "
                         "scale (tolvak token FILE makes one)");
    ServerLimits& limits = settings.limits;
    if (auto text = args.value("--max-clients"))
        limits.maxClients = static_cast<size_t>(parseWhole("--max-clients", *text, 1, 100000));
    if (auto text = args.value("--client-buffer"))
        limits.clientBuffer =
            static_cast<size_t>(parseWhole("--client-buffer", *text, 1, 1 << 20)) * 1024;
    return settings;
}

} // namespace

void checkServeOptions(const ParsedArgs& args) {
    serveSettings(args);
}

int runServe(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const ServeSettings settings = serveSettings(args);
    const AccessPolicy& policy = settings.policy;

    if (!policy.listen.loopback)
        err << "tolvak serve: warning: listening on " << policy.listen.address
            << ": every computer that can reach it can read the scale\n";

    std::vector<std::string> names;
    size_t defaultScale = 0;
    for (const ScaleSetup& setup : settings.scales) {
        if (setup.name == kDefaultScaleName) defaultScale = names.size();
        names.push_back(setup.name);
    }
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

    // Each scale reads on a thread of its own; readings cross to the server's thread through its
    // queue, so that neither a client nor another scale can slow a reader down.
    std::mutex log;
    // Every sink of the readings: the web server, and any other listener beside it.
    const std::vector<ScaleSink*> sinks = {server.get()};
    std::vector<std::unique_ptr<ScaleRunner>> runners;
    for (const ScaleSetup& setup : settings.scales)
        runners.push_back(
            std::make_unique<ScaleRunner>(setup, sinks, err, log, settings.scales.size() > 1));
    if (settings.commands) {
        std::vector<std::vector<std::string>> commands;
        bool any = false;
        for (const auto& runner : runners) {
            commands.push_back(runner->commands());
            any = any || !commands.back().empty();
            if (commands.back().empty())
                err << "tolvak serve: warning: "
                    << (runners.size() > 1 ? runner->name() + ": " : std::string()) << "format "
                    << runner->formatName() << " has no commands\n";
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
            std::move(commands),
            [&runners](size_t scale, const std::string& name, WebServer::Written done) {
                runners[scale]->command(name, std::move(done));
            },
            token);
    }
    for (auto& runner : runners)
        runner->start();
    server->run();
    for (auto& runner : runners)
        runner->stop();
    runners.clear(); // waits for every reader
    return kExitOk;
}

} // namespace tolvak::cli
