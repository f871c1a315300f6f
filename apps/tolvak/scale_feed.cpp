#include "tolvak/scale_feed.h"

#include <algorithm>

#include "tolvak/tool_platform.h"

namespace tolvak::cli {

const char* stateName(PortStatus::State state) {
    switch (state) {
    case PortStatus::State::connected:
        return "connected";
    case PortStatus::State::waiting:
        return "waiting";
    case PortStatus::State::closed:
        break;
    }
    return "closed";
}

const std::vector<OptionDef>& stableOptionDefs() {
    static const std::vector<OptionDef> defs = {
        {"--stable-window", "S",
         "stable: every reading in the last S seconds (default 1) within the tolerance"},
        {"--stable-tolerance", "X", "stable: readings may differ by X display units (default 0)"},
    };
    return defs;
}

FeedOptions feedOptions(const ParsedArgs& args) {
    FeedOptions options;
    if (auto text = args.value("--stable-window"))
        options.stable.window = std::chrono::milliseconds(
            static_cast<int64_t>(parseNumber("--stable-window", *text, 0.001, 1e6) * 1000));
    if (auto text = args.value("--stable-tolerance"))
        options.stable.tolerance = parseNumber("--stable-tolerance", *text, 0, 1e15);
    options.follow = args.has("--follow");
    return options;
}

ScaleFeed::ScaleFeed(const ScaleOptions& options, FeedOptions feed)
    : m_scale(options.line, options.format), m_options(feed) {
    m_scale.setStableSettings(feed.stable);
    m_port.device = options.line.device.empty()
                        ? defaultDeviceName(options.line.port)
                        : options.line.device;
    m_scale.onError([this](const Error& e) {
        if (e.source == Error::Source::Open) {
            m_lastOpenError = e.description;
            // A device that stays away would repeat its error at every retry.
            if (m_port.state == PortStatus::State::waiting && e.description == m_port.error) return;
        }
        if (m_onError) m_onError(e);
    });
    m_scale.onPortLost([this](const Error& e) {
        if (!m_options.follow) {
            setPort(PortStatus::State::closed, e.description);
            return;
        }
        setPort(PortStatus::State::waiting, e.description);
        m_retryDue = std::chrono::steady_clock::now() + m_options.retryInterval;
        m_scale.stop(); // back to runFor, which waits out the device from now on
    });
}

bool ScaleFeed::start() {
    tryOpen();
    return m_port.state == PortStatus::State::connected || m_options.follow;
}

void ScaleFeed::close() {
    m_scale.close();
}

void ScaleFeed::tryOpen() {
    m_lastOpenError.clear();
    // The device is opened by its path each time, so a symlink (a udev name) is followed to
    // wherever it points now.
    if (m_scale.open()) {
        setPort(PortStatus::State::connected, "");
        return;
    }
    std::string error = m_lastOpenError.empty() ? "the port could not be opened" : m_lastOpenError;
    setPort(m_options.follow ? PortStatus::State::waiting : PortStatus::State::closed,
            std::move(error));
    m_retryDue = std::chrono::steady_clock::now() + m_options.retryInterval;
}

void ScaleFeed::setPort(PortStatus::State state, std::string error) {
    if (state == m_port.state && error == m_port.error) return;
    m_port.state = state;
    m_port.error = std::move(error);
    if (m_onPortStatus) m_onPortStatus(m_port);
}

bool ScaleFeed::runFor(std::chrono::milliseconds duration) {
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + duration;
    while (!m_stopRequested) {
        const auto now = steady_clock::now();
        if (now >= deadline) return false;
        auto until = deadline;
        const bool waiting = m_options.follow && !m_scale.isOpen();
        if (waiting) {
            if (now >= m_retryDue) {
                tryOpen();
                continue;
            }
            until = std::min(until, m_retryDue);
        }
        m_scale.runFor(std::chrono::ceil<std::chrono::milliseconds>(until - now));
        if (!m_options.follow && !m_scale.isOpen() && m_port.state != PortStatus::State::connected)
            return false; // lost, not following: the caller sees the state
    }
    return true;
}

void ScaleFeed::run() {
    while (!runFor(std::chrono::hours(1))) {
        if (!m_options.follow && !m_scale.isOpen()) return;
    }
}

void ScaleFeed::stop() {
    m_stopRequested = true;
    m_scale.stop();
}

} // namespace tolvak::cli
