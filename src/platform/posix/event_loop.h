#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace tolvak::posix {

// The owning thread's event loop: file readiness through poll, timers, and a clean stop on
// SIGINT/SIGTERM. It sleeps in poll until something is due, so an idle process makes no wake-ups.
// Every callback runs on the thread that calls run(), one at a time.
class EventLoop {
  public:
    using Clock = std::chrono::steady_clock;
    using Id = int;

    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;
    ~EventLoop();

    // onReady gets poll's revents. POLLHUP and POLLERR arrive whatever events asks for.
    Id watch(int fd, short events, std::function<void(short)> onReady);
    void unwatch(Id id);

    Id startTimer(std::chrono::milliseconds interval, std::function<void()> onTick,
                  bool repeat = true);
    void stopTimer(Id id);

    // Routes SIGINT and SIGTERM into this loop: run() returns 128 + the signal number.
    void stopOnSignals();

    void quit(int exitCode = 0);
    // Runs until quit() or a stop signal; returns the exit code.
    int run();
    // Runs until quit(), a stop signal, or the time is up; true when something stopped it.
    bool runFor(Clock::duration duration);
    // Handles what is ready or due, waiting at most until deadline; false once stopped.
    bool runOnce(std::optional<Clock::time_point> deadline);

    bool stopped() const { return m_exitCode.has_value(); }
    // Forgets a quit(), so that the loop can run again.
    void resume() { m_exitCode.reset(); }

    // What another program's loop waits on in place of run(): the descriptors with their poll
    // events, and the time the next timer falls due (none: no timer).
    struct Descriptor {
        int fd;
        short events;
    };
    std::vector<Descriptor> descriptors() const;
    std::optional<Clock::time_point> nextDue() const;
    // How often poll has returned: the process's wake-ups.
    uint64_t wakeups() const { return m_wakeups; }

  private:
    struct Watch {
        int fd;
        short events;
        std::function<void(short)> onReady;
    };
    struct Timer {
        Clock::time_point due;
        std::chrono::milliseconds interval;
        bool repeat;
        std::function<void()> onTick;
    };

    void fireDueTimers();

    std::map<Id, Watch> m_watches;
    std::map<Id, Timer> m_timers;
    Id m_nextId = 1;
    std::optional<int> m_exitCode;
    uint64_t m_wakeups = 0;
    UniqueFd m_signalRead;
    UniqueFd m_signalWrite;
    bool m_handlesSignals = false;
};

} // namespace tolvak::posix
