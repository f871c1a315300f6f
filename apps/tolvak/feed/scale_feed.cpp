#include "tolvak/feed/scale_feed.h"

#include <algorithm>

#include "tolvak/platform/tool_platform.h"

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

std::string openErrorHint(const Error& error, const std::string& device) {
    // The most common first-day problem: serial devices belong to a group the user is not in.
    if (error.systemError != std::errc::permission_denied) return "";
    const std::string group = deviceGroup(device);
    if (group.empty()) return "not allowed to use " + device + ": only its owner may open it";
    return "not allowed to use " + device + ": add your user to the " + group +
           " group (sudo usermod -aG " + group + " $USER) and log in again";
}

ScaleFeed::ScaleFeed(const ScaleOptions& options, FeedOptions feed)
    : m_scale(options.line, options.format), m_options(feed) {
    m_scale.setStableSettings(feed.stable);
    m_port.device =
        options.line.device.empty() ? defaultDeviceName(options.line.port) : options.line.device;
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
        runPosted();
        const auto now = steady_clock::now();
        if (now >= deadline) return false;
        auto until = deadline;
        if (!m_options.pollRequest.empty() && m_scale.isOpen()) {
            if (now >= m_pollDue) {
                m_scale.send(m_options.pollRequest);
                // A late loop does not fire a burst of requests to catch up.
                m_pollDue = std::max(m_pollDue + m_options.pollInterval, now);
            }
            until = std::min(until, m_pollDue);
        }
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

void ScaleFeed::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_postedMutex);
        m_posted.push_back(std::move(task));
    }
    m_scale.stop(); // back to runFor, which runs it
}

void ScaleFeed::runPosted() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> lock(m_postedMutex);
        tasks.swap(m_posted);
    }
    for (auto& task : tasks)
        task();
}

} // namespace tolvak::cli
