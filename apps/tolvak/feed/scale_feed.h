#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tolvak/feed/feed_settings.h"
#include "tolvak/feed/port_status.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// What the user can do about an open error, as a line of its own; empty when nothing is known.
std::string openErrorHint(const Error& error, const std::string& device);

// A Scale that reports its port's state and, when following, outlives its device: while the
// port is closed it tries to open it again every retryInterval. Callbacks run on the thread that
// runs the feed.
class ScaleFeed {
  public:
    ScaleFeed(const ScaleOptions& options, FeedOptions feed);

    const PortStatus& port() const { return m_port; }

    void onReading(std::function<void(const Reading&)> callback) {
        m_scale.onReading(std::move(callback));
    }
    // Open errors (while following, each distinct one once in a row) and receive errors.
    void onError(std::function<void(const Error&)> callback) { m_onError = std::move(callback); }
    // Every change of the port's state or error text.
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
    Scale& scale() { return m_scale; }

  private:
    void tryOpen();
    void runPosted();
    void setPort(PortStatus::State state, std::string error);

    Scale m_scale;
    FeedOptions m_options;
    PortStatus m_port;
    std::string m_lastOpenError;
    std::chrono::steady_clock::time_point m_retryDue;
    std::atomic<bool> m_stopRequested{false};
    std::chrono::steady_clock::time_point m_pollDue;
    std::mutex m_postedMutex;
    std::vector<std::function<void()>> m_posted;
    std::function<void(const Error&)> m_onError;
    std::function<void(const PortStatus&)> m_onPortStatus;
};

} // namespace tolvak::cli
