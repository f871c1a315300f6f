#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tolvak/feed/feed_settings.h"
#include "tolvak/feed/port_problems.h"
#include "tolvak/feed/port_status.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// A Scale that reports its port's state and, when following, outlives its device: while the
// port is closed it tries to open it again every retryInterval. Callbacks run on the thread that
// runs the feed.
class ScaleFeed {
  public:
    ScaleFeed(const ScaleOptions& options, FeedOptions feed);

    const PortStatus& port() const { return m_port; }

    void onReading(std::function<void(const Reading&)> callback) {
        m_onReading = std::move(callback);
    }
    // Open errors (while following, each distinct one once in a row) and receive errors.
    void onError(std::function<void(const Error&)> callback) { m_onError = std::move(callback); }
    // What the feed has to say beyond the port's state: the settings it settled on.
    void onNotice(std::function<void(const std::string&)> callback) {
        m_onNotice = std::move(callback);
    }
    // Every change of the port's state, error text or diagnosis.
    void onPortStatus(std::function<void(const PortStatus&)> callback) {
        m_onPortStatus = std::move(callback);
    }

    // Opens the port. False when it could not be opened and the feed does not follow.
    bool start();
    void close();

    // Delivers callbacks until stop() (true) or until the time is up (false).
    bool runFor(std::chrono::milliseconds duration);
    void run();
    // From any thread, and from a signal handler.
    void stop();
    // Runs task on the thread that runs the feed, soon. From any thread.
    void post(std::function<void()> task);
    // Only on the feed's thread (in a callback or a posted task).
    Scale& scale() { return *m_live.load(); }
    // The format read: the one given, or the one listening settled on. False while listening.
    bool settled() const { return !m_options.settle; }
    const std::string& formatName() const { return m_settings.format.format; }

  private:
    void wire(Scale& scale);
    void report(const Error& e);
    bool settle();
    void tryOpen();
    void runPosted();
    void setPort(PortStatus::State state, std::string error, std::string hint = "");
    void setDiagnosis(std::string diagnosis);

    ScaleOptions m_settings; // those given, then those listening settled on
    // The scale read; the first one stays alive after settling replaces it, so that a stop()
    // from another thread never meets a scale being destroyed.
    std::unique_ptr<Scale> m_first;
    std::unique_ptr<Scale> m_settled;
    std::atomic<Scale*> m_live{nullptr};
    FeedOptions m_options;
    PortStatus m_port;
    std::optional<Error> m_lastOpenError;
    LineDoubt m_doubt;
    bool m_listening = false; // settling: nothing fits yet
    bool m_saidNoFit = false;
    std::chrono::steady_clock::time_point m_retryDue;
    std::atomic<bool> m_stopRequested{false};
    std::chrono::steady_clock::time_point m_pollDue;
    std::mutex m_postedMutex;
    std::vector<std::function<void()>> m_posted;
    std::function<void(const Reading&)> m_onReading;
    std::function<void(const Error&)> m_onError;
    std::function<void(const PortStatus&)> m_onPortStatus;
    std::function<void(const std::string&)> m_onNotice;
};

} // namespace tolvak::cli
