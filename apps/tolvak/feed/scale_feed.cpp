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
    case PortStatus::State::blocked:
        return "blocked";
    case PortStatus::State::closed:
        break;
    }
    return "closed";
}

ScaleFeed::ScaleFeed(const ScaleOptions& options, FeedOptions feed)
    : m_settings(options), m_first(std::make_unique<Scale>(options.line, options.format)),
      m_options(std::move(feed)) {
    m_port.device =
        options.line.device.empty() ? defaultDeviceName(options.line.port) : options.line.device;
    wire(*m_first);
    m_live = m_first.get();
}

void ScaleFeed::wire(Scale& scale) {
    scale.setStableSettings(m_options.stable);
    scale.onReading([this](const Reading& r) {
        m_doubt.reading(r);
        if (m_onReading) m_onReading(r);
    });
    scale.onError([this](const Error& e) { report(e); });
    scale.onPortLost([this, &scale](const Error& e) {
        if (!m_options.follow) {
            setPort(PortStatus::State::closed, e.description);
            return;
        }
        setPort(PortStatus::State::waiting, e.description, openProblem(e, m_port.device).hint);
        m_retryDue = std::chrono::steady_clock::now() + m_options.retryInterval;
        scale.stop(); // back to runFor, which waits out the device from now on
    });
}

void ScaleFeed::report(const Error& e) {
    if (e.source == Error::Source::Open) {
        m_lastOpenError = e;
        // A device that stays away would repeat its error at every retry.
        if (m_port.state != PortStatus::State::connected && e.description == m_port.error) return;
    }
    if (m_onError) m_onError(e);
}

// One listen towards the settings: true when they are settled (or the device could not be
// opened: m_lastOpenError says why); false while nothing fits yet.
bool ScaleFeed::settle() {
    Settled settled;
    try {
        settled = m_options.settle(m_settings, [this] { return m_stopRequested.load(); });
    } catch (const std::system_error& e) {
        report(
            Error{Error::Source::Open, controlErrorNumber(e.code()), e.what(), e.what(), e.code()});
        return true;
    }
    if (!settled.options) {
        if (settled.bytesCame && !m_saidNoFit) setDiagnosis(noReadingDiagnosis(m_port.device));
        m_saidNoFit = m_saidNoFit || settled.bytesCame;
        return false;
    }
    if (m_onNotice) m_onNotice(settled.said);
    m_settings = *settled.options;
    m_settled = std::make_unique<Scale>(m_settings.line, m_settings.format);
    wire(*m_settled);
    m_live = m_settled.get();
    m_options.settle = nullptr;
    setDiagnosis("");
    return true;
}

bool ScaleFeed::start() {
    tryOpen();
    return m_port.state == PortStatus::State::connected || m_options.follow || m_listening;
}

void ScaleFeed::close() {
    scale().close();
}

void ScaleFeed::tryOpen() {
    m_lastOpenError.reset();
    // Listening goes on, one setting at a time, until something fits.
    m_listening = m_options.settle && !settle();
    if (m_listening) {
        m_retryDue = std::chrono::steady_clock::now();
        return;
    }
    // The device is opened by its path each time, so a symlink (a udev name) is followed to
    // wherever it points now.
    if (!m_options.settle && scale().open()) {
        m_doubt.restart(scale().bytesReceived(), LineDoubt::Clock::now());
        setPort(PortStatus::State::connected, "");
        return;
    }
    std::string error = "the port could not be opened";
    OpenProblem problem;
    if (m_lastOpenError) {
        error = m_lastOpenError->description;
        problem = openProblem(*m_lastOpenError, m_port.device);
    }
    const auto state = !m_options.follow ? PortStatus::State::closed
                       : problem.lasting ? PortStatus::State::blocked
                                         : PortStatus::State::waiting;
    setPort(state, std::move(error), problem.hint);
    m_retryDue = std::chrono::steady_clock::now() + m_options.retryInterval;
}

void ScaleFeed::setPort(PortStatus::State state, std::string error, std::string hint) {
    if (state == m_port.state && error == m_port.error) return;
    m_port.state = state;
    m_port.error = std::move(error);
    m_port.hint = std::move(hint);
    m_port.diagnosis.clear();
    if (m_onPortStatus) m_onPortStatus(m_port);
}

void ScaleFeed::setDiagnosis(std::string diagnosis) {
    if (diagnosis == m_port.diagnosis) return;
    m_port.diagnosis = std::move(diagnosis);
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
        if (!m_options.pollRequest.empty() && scale().isOpen()) {
            if (now >= m_pollDue) {
                scale().send(m_options.pollRequest);
                // A late loop does not fire a burst of requests to catch up.
                m_pollDue = std::max(m_pollDue + m_options.pollInterval, now);
            }
            until = std::min(until, m_pollDue);
        }
        if (scale().isOpen()) {
            if (auto said = m_doubt.check(scale().bytesReceived(), now, m_port.device))
                setDiagnosis(*said);
            // Looked at again within a second, however quiet the line.
            until = std::min(until, now + std::chrono::seconds(1));
        }
        const bool waiting = (m_options.follow || m_listening) && !scale().isOpen();
        if (waiting) {
            if (now >= m_retryDue) {
                tryOpen();
                continue;
            }
            until = std::min(until, m_retryDue);
        }
        scale().runFor(std::chrono::ceil<std::chrono::milliseconds>(until - now));
        if (!m_options.follow && !m_listening && !scale().isOpen() &&
            m_port.state != PortStatus::State::connected)
            return false; // lost, not following: the caller sees the state
    }
    return true;
}

void ScaleFeed::run() {
    while (!runFor(std::chrono::hours(1))) {
        if (!m_options.follow && !m_listening && !scale().isOpen()) return;
    }
}

void ScaleFeed::stop() {
    m_stopRequested = true;
    m_live.load()->stop();
}

void ScaleFeed::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_postedMutex);
        m_posted.push_back(std::move(task));
    }
    scale().stop(); // back to runFor, which runs it
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
