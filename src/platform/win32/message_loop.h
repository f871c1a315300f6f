#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "platform/win32/message_window.h"
#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// A program's message loop on the thread that runs it: the serial receive event and Timer1
// arrive there as messages, and timers of its own tick there too (on the thread that started
// the first one). A stop event lets any thread
// (or a console control handler) end a run without touching the loop's state.
class MessageLoop {
  public:
    using Clock = std::chrono::steady_clock;
    using Id = int;
    // What run() returns when a stop request ended it: 128 + SIGINT, as a signal would on Linux.
    static constexpr int kStopped = 130;

    MessageLoop();
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // WM_TIMER's resolution: ticks come at the system timer's granularity (10 to 16 ms).
    Id startTimer(std::chrono::milliseconds interval, std::function<void()> onTick,
                  bool repeat = true);
    void stopTimer(Id id);

    void quit(int exitCode = 0) { m_exitCode = exitCode; }
    void resume() { m_exitCode.reset(); }
    bool stopped() const { return m_exitCode.has_value(); }

    // From any thread: ends the current run, or the next one when none runs. Requests that come
    // before a run takes them end that one run.
    void requestStop() { SetEvent(m_stop.get()); }

    // Runs until quit() or a stop request; returns the exit code.
    int run();
    // Runs until quit(), a stop request, or the time is up; true when something stopped it.
    bool runFor(Clock::duration duration);
    // Dispatches the messages that wait; never blocks and takes no stop request. True when there
    // were any.
    bool processPending();
    // Dispatches what waits or, when nothing does, what comes first, waiting at most until
    // deadline (none: no limit) and no longer once a stop was requested (which it takes).
    void waitOnce(std::optional<Clock::time_point> deadline);

  private:
    struct Timer {
        std::function<void()> onTick;
        bool repeat;
    };
    bool runUntil(std::optional<Clock::time_point> deadline);
    void onTimer(Id id);

    std::optional<int> m_exitCode;
    UniqueKernelObject m_stop; // an auto-reset event
    std::map<Id, Timer> m_timers;
    Id m_nextId = 1;
    std::optional<MessageWindow> m_window; // made by the first timer, on the loop's thread
};

} // namespace tolvak::win32
