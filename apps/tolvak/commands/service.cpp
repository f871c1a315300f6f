#include "tolvak/commands/service.h"

#include <fstream>
#include <ostream>
#include <system_error>

#include "base/service_manager.h"
#include "tolvak/cli/command.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/output/service_log.h"
#include "tolvak/platform/tool_platform.h"
#include "tolvak/serve/serve_command.h"
#include "tolvak/serve/token.h"

namespace tolvak::cli {

namespace {

struct ServiceSettings {
    std::vector<std::string> actions;
    std::string name = "Tolvak";
    std::chrono::seconds wait{30};
    ServeSettings serve;
    std::vector<std::string> serveWords; // serve's options as given, for the service's command line
};

const char* stateText(service::Status::State state) {
    switch (state) {
    case service::Status::State::stopped:
        return "stopped";
    case service::Status::State::starting:
        return "starting";
    case service::Status::State::running:
        return "running";
    case service::Status::State::stopping:
        return "stopping";
    default:
        return "in another state";
    }
}

std::string logPath(const std::string& name) {
    return service::folderPath() + "\\" + name + ".log";
}

std::string tokenPath(const std::string& name) {
    return service::folderPath() + "\\" + name + ".token";
}

// The service's folder, and its token when it has none yet, each with its access list: the token
// readable by SYSTEM, Administrators and the service alone. 'tolvak token' renews it in place.
std::string prepare(const std::string& name) {
    service::prepareFolder(name);
    const std::string token = tokenPath(name);
    try {
        if (!std::ifstream(token)) writePrivateFile(token, newToken() + "\n");
    } catch (const std::system_error& e) {
        throw service::ServiceError(token + ": " + e.what());
    }
    service::keepForService(token, name);
    return token;
}

// The service's own process: serve, with its output in the log. A folder that fails its checks
// gets nothing written: the exit status tells, and 'service start' says why.
int runUnderManager(const std::string& name, const ServeSettings& serve) {
    const service::Folder folder = service::openFolder();
    ServiceLog log(logPath(name));
    auto out = log.stream();
    auto err = log.stream();
    return service::run(
        name,
        [&] {
            log.writeLine("service " + name + " started");
            int status = kExitFailure;
            try {
                status = runServe(serve, *out, *err);
            } catch (const std::exception& e) {
                *err << "tolvak serve: " << e.what() << '\n';
            }
            log.writeLine("service " + name + " stopped, exit status " + std::to_string(status));
            return status;
        },
        [&] {
            log.writeLine("service " + name + ": stop requested");
            StopRequest::request();
        });
}

} // namespace

namespace {

int runService(const ServiceSettings& settings, std::ostream& out, std::ostream& err) {
    const std::string& action = settings.actions.front();
    const std::string& name = settings.name;
    const auto wait = settings.wait;
    try {
        if (action == "install") {
            const std::string token = prepare(name);
            std::vector<std::string> arguments = {"service", "run", "--name=" + name};
            if (!settings.serve.tokenFile) arguments.push_back("--token-file=" + token);
            arguments.insert(arguments.end(), settings.serveWords.begin(),
                             settings.serveWords.end());
            const std::vector<std::string> warnings = service::install(
                {name, name == "Tolvak" ? "Tolvak" : "Tolvak (" + name + ")",
                 "Serves the weighbridge indicator's weight to web applications (tolvak serve).",
                 arguments});
            for (const std::string& warning : warnings)
                err << "tolvak service: warning: " << warning << '\n';
            out << "service " << name << " installed: starts at boot, restarted on failure; "
                << "log: " << logPath(name) << "; token: " << token << "\n'tolvak service start"
                << (name == "Tolvak" ? "" : " --name " + name) << "' starts it now\n";
        } else if (action == "uninstall") {
            service::uninstall(name);
            out << "service " << name << " removed\n";
        } else if (action == "start" || action == "stop") {
            const bool starting = action == "start";
            if (starting) service::openFolder(); // its refusal said here, where someone reads it
            const service::Status status =
                starting ? service::start(name, wait) : service::stop(name, wait);
            const auto wanted =
                starting ? service::Status::State::running : service::Status::State::stopped;
            if (status.state != wanted) {
                err << "tolvak service: " << name << " is " << stateText(status.state);
                if (status.state == service::Status::State::stopped)
                    err << " (exit status " << status.exitCode << "; see " << logPath(name) << ')';
                err << '\n';
                return kExitFailure;
            }
            out << "service " << name << ' ' << stateText(status.state) << '\n';
        } else if (action == "status") {
            const auto status = service::query(name);
            if (!status) {
                err << "tolvak service: " << name << " is not installed\n";
                return kExitFailure;
            }
            out << "service " << name << ": " << stateText(status->state);
            if (status->state == service::Status::State::running)
                out << " (process " << status->processId << ')';
            else if (status->state == service::Status::State::stopped && status->exitCode != 0)
                out << " (last exit status " << status->exitCode << ')';
            out << "\nstarts:  " << (status->autoStart ? "at boot" : "when started")
                << "\nruns:    " << status->commandLine << "\nas:      " << status->account
                << "\nlog:     " << logPath(name) << '\n';
        } else if (action == "check") {
            out << "serve's options for service " << name << ": fine\n";
        } else if (action == "prepare") {
            out << "service " << name << "'s folder and token: " << prepare(name) << '\n';
        } else if (action == "run") {
            return runUnderManager(name, settings.serve);
        } else {
            throw UsageError("unknown ACTION '" + action +
                             "' (install, uninstall, start, stop, status, prepare or check)");
        }
    } catch (const service::ServiceError& e) {
        err << "tolvak service: " << e.what() << '\n';
        return kExitFailure;
    }
    out.flush();
    return kExitOk;
}

} // namespace

Run bindService(Options& options) {
    auto settings = std::make_shared<ServiceSettings>();
    options.value("--name", "NAME", "the service's name (default Tolvak); one service per scale",
                  [s = settings.get()](const std::string& name) {
                      if (name.empty() || name.size() > 200 ||
                          name.find_first_of("/\\") != std::string::npos)
                          throw UsageError("--name: '" + name +
                                           "' is not a service name (1 to 200 characters, "
                                           "no slashes)");
                      s->name = name;
                  });
    options.value("--wait", "S",
                  "start, stop: seconds to wait for the service to settle (default 30)",
                  [s = settings.get()](const std::string& v) {
                      s->wait = std::chrono::seconds(parseWhole("--wait", v, 1, 3600));
                  });
    options.arguments(settings->actions);
    const size_t serveFrom = options.defs().size();
    options.check([s = settings.get(), &options, serveFrom] {
        if (s->actions.size() != 1)
            throw UsageError(
                "needs one ACTION: install, uninstall, start, stop, status, prepare or check");
        s->serveWords = options.givenWords(serveFrom);
        const bool takesServeOptions =
            s->actions.front() == "install" || s->actions.front() == "run" ||
            s->actions.front() == "check";
        s->serve.start.needsDevice = takesServeOptions;
        if (!takesServeOptions && !s->serveWords.empty())
            throw UsageError(s->serveWords.front().substr(0, s->serveWords.front().find('=')) +
                             ": only install and check take serve's options");
    });
    // Validated here, once: install keeps the user's words for the service's command line.
    bindServeOptions(options, settings->serve);
    return [settings](std::ostream& out, std::ostream& err) {
        return runService(*settings, out, err);
    };
}

} // namespace tolvak::cli
