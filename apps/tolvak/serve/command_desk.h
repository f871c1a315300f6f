#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "tolvak/scale.h"

namespace tolvak::cli {

// Zero, tare and print from every client of the server, to one indicator: one command on the line
// at a time, a few waiting, and a pause between two, so that a flood can neither keep taring the
// scale long after it stopped nor crowd the readings off the line. A command is answered by the
// first frame that shows its effect (the net weight after a tare, zero after a zero, any frame
// after a print), or after its time with 504: an indicator that ignored a tare must not look as if
// it had obeyed. Everything runs on the server's thread; the line is written by whoever calls
// due() and reports back through sent().
class CommandDesk {
  public:
    using Clock = std::chrono::steady_clock;
    using Answer = std::function<void(int status, std::string body)>;
    struct Limits {
        size_t queue = 4; // waiting besides the one in flight
        Clock::duration interval = std::chrono::milliseconds(300); // from one start to the next
        Clock::duration timeout = std::chrono::milliseconds(2000); // for the frame that shows it
    };
    struct Due {
        uint64_t id;
        std::string name;
    };

    explicit CommandDesk(Limits limits) : m_limits(limits) {}

    // Queues a command; false (the answer dropped) when the queue is full.
    bool submit(std::string name, Answer answer);
    // The command to write now, if one is due; its outcome comes back through sent(id, ...).
    std::optional<Due> due(Clock::time_point now);
    // The write of command id is done: error is empty when the bytes left, at the time given.
    void sent(uint64_t id, const std::optional<std::string>& error,
              std::chrono::system_clock::time_point at);
    // Only a frame received after the command left can answer it: the reader may still hold
    // frames it took from the line before.
    void reading(const Reading& reading);
    // Answers a command whose time is up.
    void expire(Clock::time_point now);
    // When due() or expire() next has something to do; none while idle.
    std::optional<Clock::time_point> wakeAt() const;
    // Answers every command with 503: the server stops.
    void cancelAll();

  private:
    struct Entry {
        uint64_t id = 0;
        std::string name;
        Answer answer;
        std::optional<std::chrono::system_clock::time_point> writtenAt;
        Clock::time_point deadline;
    };
    void finish(int status, std::string body);

    Limits m_limits;
    std::deque<Entry> m_waiting;
    std::optional<Entry> m_inFlight;
    std::optional<Clock::time_point> m_lastStart;
    uint64_t m_nextId = 1;
};

// The answer's error when the queue is full.
inline constexpr char kTooManyCommands[] = "too many commands are waiting; try again shortly";

// The frame shows what the command asked for.
bool showsEffect(const std::string& command, const Reading& reading);

} // namespace tolvak::cli
