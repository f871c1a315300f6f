#include "platform/posix/event_loop.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <vector>

namespace tolvak::posix {

namespace {

// The signal handler can only reach a loop through a plain descriptor: the self-pipe trick.
std::atomic<int> g_signalPipe{-1};

// Internal linkage: an extern "C" name would leave the library whatever namespace it sits in.
void onStopSignal(int signo) {
    int saved = errno;
    int fd = g_signalPipe.load();
    unsigned char byte = static_cast<unsigned char>(signo);
    if (fd >= 0) [[maybe_unused]]
        auto n = ::write(fd, &byte, 1);
    errno = saved;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

} // namespace

EventLoop::~EventLoop() {
    if (!m_handlesSignals) return;
    for (int signo : kStopSignals)
        ::signal(signo, SIG_DFL);
    g_signalPipe.store(-1);
}

EventLoop::Id EventLoop::watch(int fd, short events, std::function<void(short)> onReady) {
    Id id = m_nextId++;
    m_watches.emplace(id, Watch{fd, events, std::move(onReady)});
    return id;
}

void EventLoop::unwatch(Id id) {
    m_watches.erase(id);
}

EventLoop::Id EventLoop::startTimer(std::chrono::milliseconds interval,
                                    std::function<void()> onTick, bool repeat) {
    Id id = m_nextId++;
    m_timers.emplace(id, Timer{Clock::now() + interval, interval, repeat, std::move(onTick)});
    return id;
}

void EventLoop::stopTimer(Id id) {
    m_timers.erase(id);
}

void EventLoop::stopOnSignals() {
    if (m_handlesSignals) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
    m_signalRead.reset(fds[0]);
    m_signalWrite.reset(fds[1]);
    g_signalPipe.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kStopSignals)
        ::sigaction(signo, &action, nullptr);
    m_handlesSignals = true;
    watch(m_signalRead.get(), POLLIN, [this](short) {
        unsigned char signo = 0;
        if (::read(m_signalRead.get(), &signo, 1) == 1) quit(128 + signo);
    });
}

void EventLoop::quit(int exitCode) {
    if (!m_exitCode) m_exitCode = exitCode;
}

int EventLoop::run() {
    while (runOnce(std::nullopt)) {
    }
    return *m_exitCode;
}

bool EventLoop::runFor(Clock::duration duration) {
    const auto deadline = Clock::now() + duration;
    while (runOnce(deadline) && Clock::now() < deadline) {
    }
    return stopped();
}

std::vector<EventLoop::Descriptor> EventLoop::descriptors() const {
    std::vector<Descriptor> out;
    out.reserve(m_watches.size());
    for (const auto& [id, w] : m_watches)
        out.push_back(Descriptor{w.fd, w.events});
    return out;
}

std::optional<EventLoop::Clock::time_point> EventLoop::nextDue() const {
    std::optional<Clock::time_point> due;
    for (const auto& [id, timer] : m_timers)
        if (!due || timer.due < *due) due = timer.due;
    return due;
}

bool EventLoop::runOnce(std::optional<Clock::time_point> deadline) {
    if (stopped()) return false;
    std::optional<Clock::time_point> wakeAt = nextDue();
    if (deadline && (!wakeAt || *deadline < *wakeAt)) wakeAt = deadline;

    int timeout = -1; // nothing due: sleep until a descriptor or a signal wakes us
    if (wakeAt) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - Clock::now());
        timeout = left.count() < 0 ? 0 : static_cast<int>(std::min<int64_t>(left.count(), 1 << 30));
    }

    std::vector<pollfd> fds;
    std::vector<Id> ids;
    fds.reserve(m_watches.size());
    for (const auto& [id, w] : m_watches) {
        fds.push_back(pollfd{w.fd, w.events, 0});
        ids.push_back(id);
    }
    if (fds.empty() && timeout < 0) {
        quit(0); // nothing left that could ever wake us
        return false;
    }
    int ready = ::poll(fds.data(), fds.size(), timeout);
    ++m_wakeups;
    if (ready < 0 && errno != EINTR) throw std::runtime_error("poll failed");
    for (size_t i = 0; ready > 0 && i < fds.size() && !stopped(); ++i) {
        if (fds[i].revents == 0) continue;
        // A callback may have removed this watch (or others) meanwhile.
        auto it = m_watches.find(ids[i]);
        if (it == m_watches.end()) continue;
        auto onReady = it->second.onReady; // the callback may unwatch itself
        onReady(fds[i].revents);
    }
    if (!stopped()) fireDueTimers();
    return !stopped();
}

void EventLoop::fireDueTimers() {
    const auto now = Clock::now();
    // Timers that came due together (the loop was held up) still fire in the order they fell due.
    std::vector<std::pair<Clock::time_point, Id>> due;
    for (const auto& [id, timer] : m_timers)
        if (timer.due <= now) due.emplace_back(timer.due, id);
    std::sort(due.begin(), due.end());
    for (const auto& [when, id] : due) {
        auto it = m_timers.find(id);
        if (it == m_timers.end() || stopped()) continue;
        auto onTick = it->second.onTick;
        if (it->second.repeat) {
            // Late ticks are not made up for: one tick, then back on the interval.
            it->second.due += it->second.interval;
            if (it->second.due <= now) it->second.due = now + it->second.interval;
        } else {
            m_timers.erase(it);
        }
        onTick();
    }
}

} // namespace tolvak::posix
