#include "tolvak/serve/scale_runner.h"

#include <map>
#include <ostream>
#include <sstream>

#include "acquisition/formats/format.h"
#include "text/utf8.h"
#include "tolvak/feed/receive_errors.h"
#include "tolvak/feed/scale_feed.h"
#include "tolvak/simulator/simulated_scale.h"

namespace tolvak::cli {

namespace {

const std::map<std::string, Scale::Command> kCommands = {{"zero", Scale::Command::Zero},
                                                         {"tare", Scale::Command::Tare},
                                                         {"print", Scale::Command::Print}};

} // namespace

ScaleRunner::ScaleRunner(ScaleSetup setup, std::vector<ScaleSink*> sinks, std::ostream& err,
                         std::mutex& log, bool named)
    : m_setup(std::move(setup)), m_sinks(std::move(sinks)), m_err(err), m_log(log), m_named(named),
      m_prefix("tolvak serve: " + (named ? m_setup.name + ": " : std::string())) {}

ScaleRunner::~ScaleRunner() {
    stop();
    if (m_thread.joinable()) m_thread.join();
}

std::vector<std::string> ScaleRunner::commands() const {
    std::vector<std::string> names;
    const formats::Format* format = formats::findFormat(m_setup.scale.format.format);
    for (const auto& [name, command] : kCommands) {
        const std::string* bytes = command == Scale::Command::Zero   ? &format->commands.zero
                                   : command == Scale::Command::Tare ? &format->commands.tare
                                                                     : &format->commands.print;
        if (m_setup.simulated || !bytes->empty()) names.push_back(name);
    }
    return names;
}

std::string ScaleRunner::formatName() const {
    return std::string(formats::findFormat(m_setup.scale.format.format)->name);
}

void ScaleRunner::command(const std::string& name, WebServer::Written done) {
    const Scale::Command command = kCommands.at(name);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_simulated) {
        SimulatedScale& simulated = *m_simulated;
        simulated.post([&simulated, command, done] {
            simulated.command(command);
            done(std::nullopt);
        });
        return;
    }
    if (!m_feed) return done("the port is not open");
    ScaleFeed& feed = *m_feed;
    feed.post([this, &feed, command, done] {
        if (!feed.scale().isOpen()) return done("the port is not open");
        m_sendError = "the line did not take it";
        if (!feed.scale().sendCommand(command)) return done(m_sendError);
        done(std::nullopt);
    });
}

void ScaleRunner::start() {
    m_thread = std::thread([this] { m_setup.simulated ? runSimulated() : runFeed(); });
}

void ScaleRunner::stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    if (m_feed) m_feed->stop();
    if (m_simulated) m_simulated->stop();
}

void ScaleRunner::say(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_log);
    m_err << line << std::flush;
}

void ScaleRunner::reading(const Reading& reading) {
    for (ScaleSink* sink : m_sinks)
        sink->onReading(m_setup.name, reading);
}

void ScaleRunner::portState(const PortStatus& port) {
    for (ScaleSink* sink : m_sinks)
        sink->onPortState(m_setup.name, port);
}

void ScaleRunner::runSimulated() {
    SimulatedScale simulated;
    simulated.onReading([this](const Reading& r) { reading(r); });
    PortStatus port;
    port.state = PortStatus::State::connected;
    port.device = "simulated";
    portState(port);
    say(m_prefix + "simulated: the demo's truck\n");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finished) return;
        m_simulated = &simulated;
    }
    simulated.run();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_simulated = nullptr;
}

void ScaleRunner::runFeed() {
    FeedOptions options = m_setup.feed;
    options.follow = true; // a bridge keeps running whatever the device does
    ScaleFeed feed(m_setup.scale, options);
    std::ostringstream receiveErrors;
    ReceiveErrorReport errors(m_named ? "serve: " + m_setup.name : "serve", receiveErrors, nullptr);
    feed.onError([&](const Error& e) {
        // Open errors are the port's state, told below; a command that could not be sent is
        // answered 502 with the reason, and said here as what it is.
        if (e.source == Error::Source::Receive) {
            errors.show(AutomationError(e.number, fromUtf8(e.description)));
            say(receiveErrors.str());
            receiveErrors.str("");
        }
        if (e.source == Error::Source::Send) {
            m_sendError = e.description;
            say(m_prefix + "a command could not be sent: " + e.description + '\n');
        }
    });
    feed.onReading([this](const Reading& r) { reading(r); });
    feed.onPortStatus([this](const PortStatus& port) {
        portState(port);
        if (port.state == PortStatus::State::connected)
            say(m_prefix + port.device + ": connected\n");
        if (port.state == PortStatus::State::waiting)
            say(m_prefix + "waiting for the device: " + port.error + '\n');
    });
    portState(feed.port());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finished) return;
        m_feed = &feed;
    }
    feed.start();
    feed.run();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_feed = nullptr;
    }
    feed.close();
}

} // namespace tolvak::cli
