#include "platform/posix/event_loop.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_timer.h"

namespace tolvak::posix {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, TimersFireInDueOrderAndOneShotsOnce) {
    EventLoop loop;
    std::vector<std::string> fired;
    loop.startTimer(
        30ms, [&] { fired.push_back("30 once"); }, false);
    loop.startTimer(10ms, [&] { fired.push_back("10 repeat"); });
    loop.startTimer(
        55ms, [&] { loop.quit(7); }, false);
    EXPECT_EQ(loop.run(), 7);
    // However late the loop gets round to them (a busy machine), the one-shot fires exactly once
    // and never before the repeating timer's first tick, which fell due earlier.
    EXPECT_EQ(std::count(fired.begin(), fired.end(), "30 once"), 1);
    ASSERT_FALSE(fired.empty());
    EXPECT_EQ(fired.front(), "10 repeat");
}

TEST(EventLoop, TimersDueTogetherFireInDueOrderNotStartOrder) {
    EventLoop loop;
    std::vector<std::string> fired;
    // Started latest-first, and all three come due while the first callback holds the loop up.
    loop.startTimer(
        1ms, [] { std::this_thread::sleep_for(50ms); }, false);
    for (auto [delay, name] : {std::pair{30ms, "c"}, {20ms, "b"}, {10ms, "a"}})
        loop.startTimer(
            delay, [&fired, name = name] { fired.push_back(name); }, false);
    loop.startTimer(
        80ms, [&] { loop.quit(0); }, false);
    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(fired, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(EventLoop, StopSignalsEndRunCleanly) {
    for (int signo : {SIGINT, SIGTERM}) {
        EventLoop loop;
        loop.stopOnSignals();
        loop.startTimer(
            5ms, [signo] { ::raise(signo); }, false);
        EXPECT_EQ(loop.run(), 128 + signo);
    }
}

TEST(EventLoop, CallbackMayUnwatchItselfAndOthers) {
    EventLoop loop;
    int a[2], b[2];
    ASSERT_EQ(::pipe(a), 0);
    ASSERT_EQ(::pipe(b), 0);
    ASSERT_EQ(::write(a[1], "x", 1), 1);
    ASSERT_EQ(::write(b[1], "y", 1), 1);
    int calls = 0;
    EventLoop::Id idA = 0, idB = 0;
    // Whichever runs first removes both: the other must not be called with a stale entry.
    idA = loop.watch(a[0], POLLIN, [&](short) {
        ++calls;
        loop.unwatch(idA);
        loop.unwatch(idB);
    });
    idB = loop.watch(b[0], POLLIN, [&](short) {
        ++calls;
        loop.unwatch(idA);
        loop.unwatch(idB);
    });
    loop.runFor(50ms);
    EXPECT_EQ(calls, 1);
    for (int fd : {a[0], a[1], b[0], b[1]})
        ::close(fd);
}

TEST(EventLoop, NothingToWaitForEndsTheLoop) {
    EventLoop loop;
    EXPECT_EQ(loop.run(), 0);
}

struct TimerCase {
    bool enabled;
    int32_t interval;
    bool ticks;
};

class PosixTimerTest : public ::testing::TestWithParam<TimerCase> {};

TEST_P(PosixTimerTest, TicksOnlyWhenEnabledWithAnInterval) {
    EventLoop loop;
    class CountingTimer : public PosixTimer {
      public:
        using PosixTimer::PosixTimer;
    } timer(loop);
    int ticks = 0;
    timer.setTickHandler([&] { ++ticks; });
    timer.setEnabled(GetParam().enabled);
    timer.setInterval(GetParam().interval);
    loop.runFor(60ms);
    EXPECT_EQ(timer.ticking(), GetParam().ticks);
    if (GetParam().ticks)
        EXPECT_GE(ticks, 2);
    else
        EXPECT_EQ(ticks, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, PosixTimerTest,
                         ::testing::Values(TimerCase{true, 20, true}, TimerCase{true, 0, false},
                                           TimerCase{false, 20, false},
                                           TimerCase{true, -5, false}));

} // namespace
} // namespace tolvak::posix
