#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "tolvak/scale.h"

namespace tolvak::cli {

// The demo's truck as a scale without a serial line, on every system: a reading every interval,
// stable when the indicator's display stands, and zero, tare and print obeyed at once. For
// trying a server, or a web page, without an indicator.
class SimulatedScale {
  public:
    explicit SimulatedScale(std::chrono::milliseconds interval = std::chrono::milliseconds(100));

    // On the thread that runs the scale.
    void onReading(std::function<void(const Reading&)> callback) {
        m_onReading = std::move(callback);
    }
    // Until stop().
    void run();
    // From any thread.
    void stop();
    // Runs task on the thread that runs the scale, soon. From any thread.
    void post(std::function<void()> task);
    // On the scale's thread: zero, tare or print, answered by a reading at once.
    void command(Scale::Command command);

  private:
    Reading reading() const;

    std::chrono::milliseconds m_interval;
    std::chrono::steady_clock::time_point m_start;
    std::function<void(const Reading&)> m_onReading;
    double m_zero = 0;
    std::optional<double> m_tare;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopped = false;
    std::vector<std::function<void()>> m_posted;
};

} // namespace tolvak::cli
