#include "tolvak/serve/scale_runner.h"

#include <map>
#include <ostream>
#include <sstream>

#include "acquisition/formats/format.h"
#include "text/utf8.h"
#include "tolvak/feed/port_problems.h"
#include "tolvak/feed/receive_errors.h"
#include "tolvak/feed/scale_feed.h"
#include "tolvak/simulator/simulated_scale.h"

namespace tolvak::cli {

namespace {

struct CommandBytes {
    Scale::Command command;
    const std::string formats::Commands::*bytes;
};
const std::map<std::string, CommandBytes> kCommands = {
    {"zero", {Scale::Command::Zero, &formats::Commands::zero}},
    {"tare", {Scale::Command::Tare, &formats::Commands::tare}},
    {"print", {Scale::Command::Print, &formats::Commands::print}}};

// Whether the format's protocol has the command; a format the tool does not know may.
bool formatHas(const std::string& formatName, const CommandBytes& command) {
    const formats::Format* format = formats::findFormat(formatName);
    return !format || !(format->commands.*command.bytes).empty();
}

} // namespace

ScaleRunner::ScaleRunner(ScaleSetup setup, FeedStart start, std::vector<ScaleSink*> sinks,
                         std::string command, std::ostream& err, std::mutex& log)
    : m_setup(std::move(setup)), m_start(std::move(start)), m_sinks(std::move(sinks)),
      m_command(std::move(command)), m_err(err), m_log(log) {}

ScaleRunner::~ScaleRunner() {
    stop();
    if (m_thread.joinable()) m_thread.join();
}

std::vector<std::string> ScaleRunner::commands() const {
    std::vector<std::string> names;
    for (const auto& [name, command] : kCommands)
        if (m_setup.simulated || m_start.start.autoFormat ||
            formatHas(m_start.scale.format.format, command))
            names.push_back(name);
    return names;
}

std::string ScaleRunner::formatName() const {
    const formats::Format* format = formats::findFormat(m_start.scale.format.format);
    return format ? std::string(format->name) : m_start.scale.format.format;
}

void ScaleRunner::command(const std::string& name, WebServer::Written done) {
    const CommandBytes& command = kCommands.at(name);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_simulated) {
        // Written, then obeyed: the answer is the reading that follows.
        SimulatedScale& simulated = *m_simulated;
        simulated.post([&simulated, command, done] {
            done(std::nullopt);
            simulated.command(command.command);
        });
        return;
    }
    if (!m_feed) return done("the port is not open");
    ScaleFeed& feed = *m_feed;
    feed.post([this, &feed, name, command, done] {
        if (!feed.scale().isOpen()) return done("the port is not open");
        // A format left to the tool is offered every command until it is known.
        if (!feed.settled()) return done("the format is not known yet: the line is listened to");
        if (!formatHas(feed.formatName(), command))
            return done("format " + feed.formatName() + " has no " + name + " command");
        m_sendError = "the line did not take it";
        if (!feed.scale().sendCommand(command.command)) return done(m_sendError);
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

void ScaleRunner::say(const std::string& text) {
    if (text.empty()) return;
    std::lock_guard<std::mutex> lock(m_log);
    m_err << text << std::flush;
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
    portState({PortStatus::State::connected, "simulated", "", "", ""});
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
    options.settle = m_start.settle;
    ScaleFeed feed(m_start.scale, options);
    PortStatus said;
    std::ostringstream receiveErrors;
    ReceiveErrorReport errors(m_command, receiveErrors, nullptr);
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
            say("tolvak " + m_command + ": a command could not be sent: " + e.description + '\n');
        }
    });
    feed.onReading([this](const Reading& r) { reading(r); });
    feed.onNotice([this](const std::string& notice) { say(notice + '\n'); });
    feed.onPortStatus([&](const PortStatus& port) {
        portState(port);
        std::ostringstream text;
        if (sayPortChange(text, m_command, port, said) &&
            port.state == PortStatus::State::connected)
            text << "tolvak " << m_command << ": " << port.device << ": connected\n";
        say(text.str());
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
