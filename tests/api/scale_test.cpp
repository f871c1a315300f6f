// The public Scale against an indicator played on a pseudo-terminal: readings, errors, a lost
// port, and the three ways to drive it (run/stop, runFor, another program's poll loop).
#include "tolvak/scale.h"

#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/pseudo_terminal.h"
#include "pty_rig.h"

namespace tolvak::testing {
namespace {

using namespace std::chrono_literals;

LineSettings lineOn(const posix::PseudoTerminal& pty) {
    LineSettings line;
    line.device = pty.slavePath();
    line.baudRate = 9600;
    return line;
}

struct Recorded {
    std::vector<Reading> readings;
    std::vector<Error> errors;
    std::vector<Error> lost;
};

void record(Scale& scale, Recorded& r) {
    scale.onReading([&r](const Reading& reading) { r.readings.push_back(reading); });
    scale.onError([&r](const Error& e) { r.errors.push_back(e); });
    scale.onPortLost([&r](const Error& e) { r.lost.push_back(e); });
}

// What another program's loop hands to poll(2).
std::vector<pollfd> pollFds(const Scale& scale) {
    std::vector<pollfd> fds;
    for (const auto& d : scale.pollDescriptors())
        fds.push_back(pollfd{d.fd, d.events, 0});
    return fds;
}

TEST(Scale, ReadsFramesWithTheirValuesAndTimes) {
    struct Case {
        const char* name;
        FrameFormat format;
        std::string bytes;
        std::vector<std::string> texts;
        std::vector<std::optional<double>> values;
    };
    FrameFormat decimals;
    decimals.decimals = 2;
    FrameFormat crlf;
    crlf.newLineSeparates = false;
    crlf.carriageReturnSeparates = false;
    crlf.otherSeparator = "\r\n";
    crlf.reversed = false;
    const Case cases[] = {
        {"defaults",
         {},
         "=05.21000=0200000-=05.2O000=",
         {"12.5", "-20", "0"},
         {12.5, -20, std::nullopt}},
        {"decimals", decimals, "=05210000=", {"12.5"}, {12.5}},
        {"CR LF in display order",
         crlf,
         "00012.50\r\n00032000\r\n",
         {"12.5", "32000"},
         {12.5, 32000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pty = posix::PseudoTerminal::open();
        Scale scale(lineOn(pty), c.format);
        Recorded r;
        record(scale, r);
        scale.onReading([&](const Reading& reading) {
            r.readings.push_back(reading);
            if (r.readings.size() == c.texts.size()) scale.stop();
        });
        const auto before = std::chrono::system_clock::now();
        ASSERT_TRUE(scale.open());
        EXPECT_TRUE(scale.isOpen());
        ASSERT_TRUE(writeAll(pty.master(), c.bytes));
        EXPECT_TRUE(scale.runFor(5s)) << "stopped by the last reading";
        ASSERT_EQ(r.readings.size(), c.texts.size());
        for (size_t i = 0; i < c.texts.size(); ++i) {
            EXPECT_EQ(r.readings[i].text, c.texts[i]);
            EXPECT_EQ(r.readings[i].value, c.values[i]);
            EXPECT_FALSE(r.readings[i].stable);
            EXPECT_GE(r.readings[i].time, before);
        }
        EXPECT_TRUE(r.errors.empty());
        scale.close();
        EXPECT_FALSE(scale.isOpen());
    }
}

TEST(Scale, MarksReadingsStableOnceTheWeightStands) {
    auto pty = posix::PseudoTerminal::open();
    Scale scale(lineOn(pty));
    scale.setStableSettings({200ms, 0});
    std::vector<std::pair<std::string, bool>> seen;
    size_t expected = 4;
    scale.onReading([&](const Reading& r) {
        seen.emplace_back(r.text, r.stable);
        if (seen.size() == expected) scale.stop();
    });
    ASSERT_TRUE(scale.open());
    // Frames of one chunk arrive together, just after open(): the weight has not been seen for a
    // window yet, whatever the frames say.
    ASSERT_TRUE(writeAll(pty.master(), "=05.21000=05.21000=0200000-=0200000-="));
    ASSERT_TRUE(scale.runFor(5s));
    // Once -20 has stood for the window it is stable; new settings judge the history kept.
    std::this_thread::sleep_for(300ms);
    scale.setStableSettings({250ms, 0});
    expected = 6;
    ASSERT_TRUE(writeAll(pty.master(), "0200000-=05.21000="));
    ASSERT_TRUE(scale.runFor(5s));
    const std::vector<std::pair<std::string, bool>> want = {{"12.5", false}, {"12.5", false},
                                                            {"-20", false},  {"-20", false},
                                                            {"-20", true},   {"12.5", false}};
    EXPECT_EQ(seen, want);
}

TEST(Scale, OpenFailuresComeBackAsErrorsNotBoxes) {
    struct Case {
        const char* name;
        LineSettings line;
        int number;
        std::string inDescription;
    };
    LineSettings missing;
    missing.device = "/dev/tolvak-no-such-device";
    LineSettings badParity = missing;
    badParity.parity = 'x';
    LineSettings wide = missing;
    wide.dataBits = 70000;
    const Case cases[] = {
        {"no such device", missing, 8002, "/dev/tolvak-no-such-device"},
        {"bad settings", badParity, 380, ""},
        {"beyond 16 bits", wide, 6, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scale scale(c.line);
        Recorded r;
        record(scale, r);
        EXPECT_FALSE(scale.open());
        EXPECT_FALSE(scale.isOpen());
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_EQ(r.errors[0].source, Error::Source::Open);
        EXPECT_EQ(r.errors[0].number, c.number);
        EXPECT_NE(r.errors[0].description.find(c.inDescription), std::string::npos)
            << r.errors[0].description;
        EXPECT_NE(r.errors[0].message.find(r.errors[0].description), std::string::npos);
    }
}

TEST(Scale, ReportsReceiveErrorsAndReadsOn) {
    auto pty = posix::PseudoTerminal::open();
    FrameFormat format;
    format.decimals = 400; // no double divides by 10^400
    Scale scale(lineOn(pty), format);
    Recorded r;
    record(scale, r);
    scale.onError([&](const Error& e) {
        r.errors.push_back(e);
        scale.stop();
    });
    ASSERT_TRUE(scale.open());
    ASSERT_TRUE(writeAll(pty.master(), "=05.21000="));
    EXPECT_TRUE(scale.runFor(5s));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].source, Error::Source::Receive);
    EXPECT_EQ(r.errors[0].number, 6);
    EXPECT_TRUE(scale.isOpen());
}

TEST(Scale, TellsOfALostPortAndOpensAgain) {
    auto pty = posix::PseudoTerminal::open();
    Scale scale(lineOn(pty));
    Recorded r;
    record(scale, r);
    scale.onPortLost([&](const Error& e) {
        r.lost.push_back(e);
        scale.stop();
    });
    ASSERT_TRUE(scale.open());
    pty.closeMaster();
    EXPECT_TRUE(scale.runFor(5s));
    ASSERT_EQ(r.lost.size(), 1u);
    EXPECT_EQ(r.lost[0].source, Error::Source::PortLost);
    EXPECT_FALSE(scale.isOpen());
}

TEST(Scale, StopFromAnotherThreadEndsRun) {
    auto pty = posix::PseudoTerminal::open();
    Scale scale(lineOn(pty));
    ASSERT_TRUE(scale.open());
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        scale.stop();
    });
    scale.run(); // returns only through stop()
    stopper.join();
    scale.stop(); // before run(): the next run returns at once
    EXPECT_TRUE(scale.runFor(60s));
}

TEST(Scale, LeavesAPendingStopToRunNotToProcess) {
    // A stop() that no run() has taken yet (a signal just before run() starts) must still end
    // the next run(), even when the program drives process() itself in between; and it must not
    // leave anything ready for that program's poll loop, which would then spin.
    struct Case {
        const char* name;
        std::string bytes;    // written by the indicator before the stops
        int stopsBefore;      // stop() calls before process() is driven
        bool stopFromReading; // each reading calls stop(), inside process()
        size_t readings;      // what process() delivers
    };
    const Case cases[] = {
        {"nothing ready", "", 1, false, 0},
        {"a frame ready", "=05.21000=", 1, false, 1},
        {"two stops end one run", "", 2, false, 0},
        {"stopped from a reading", "=05.21000=0200000-=", 0, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pty = posix::PseudoTerminal::open();
        Scale scale(lineOn(pty));
        std::vector<std::string> texts;
        scale.onReading([&](const Reading& r) {
            texts.push_back(r.text);
            if (c.stopFromReading) scale.stop();
        });
        ASSERT_TRUE(scale.open());
        ASSERT_TRUE(writeAll(pty.master(), c.bytes));
        for (int i = 0; i < c.stopsBefore; ++i)
            scale.stop();

        const auto deadline = std::chrono::steady_clock::now() + 5s;
        do {
            auto fds = pollFds(scale);
            ::poll(fds.data(), fds.size(), texts.size() < c.readings ? 100 : 0);
            scale.process();
        } while (texts.size() < c.readings && std::chrono::steady_clock::now() < deadline);
        EXPECT_EQ(texts.size(), c.readings);

        auto fds = pollFds(scale);
        EXPECT_EQ(::poll(fds.data(), fds.size(), 0), 0) << "ready with nothing for process()";

        EXPECT_TRUE(scale.runFor(5s)) << "the stop was lost";
        EXPECT_FALSE(scale.runFor(50ms)) << "one stop ends one run";
    }
}

// Ten frames in one write: they reach the Scale in one read.
std::string burst(int frames) {
    std::string bytes = "=";
    for (int i = 0; i < frames; ++i)
        bytes += "05.21000=";
    return bytes;
}

TEST(Scale, StopFromACallbackEndsThatStepsDelivery) {
    // How a program drives the Scale, until `want` readings have come or 5 s have passed.
    using Drive = void (*)(Scale&, const size_t& seen, size_t want);
    const std::pair<const char*, Drive> drives[] = {
        {"runFor", [](Scale& s, const size_t&, size_t) { s.runFor(5s); }},
        {"run",
         [](Scale& s, const size_t& seen, size_t want) {
             if (seen < want) s.run(); // else nothing would stop it
         }},
        {"process",
         [](Scale& s, const size_t& seen, size_t want) {
             const auto deadline = std::chrono::steady_clock::now() + 5s;
             while (seen < want && std::chrono::steady_clock::now() < deadline) {
                 auto fds = pollFds(s);
                 ::poll(fds.data(), fds.size(), 100);
                 s.process();
             }
         }},
    };
    for (const auto& [name, drive] : drives) {
        SCOPED_TRACE(name);
        auto pty = posix::PseudoTerminal::open();
        Scale scale(lineOn(pty));
        size_t seen = 0;
        scale.onReading([&](const Reading&) {
            if (++seen == 3 || seen == 10) scale.stop();
        });
        ASSERT_TRUE(scale.open());
        ASSERT_TRUE(writeAll(pty.master(), burst(10)));
        drive(scale, seen, 3);
        EXPECT_EQ(seen, 3u) << "delivered after stop()";
        drive(scale, seen, 10);
        EXPECT_EQ(seen, 10u) << "the rest of the burst comes with the next step";
        if (name == std::string("process")) scale.runFor(0ms); // the stops are left to a run
        EXPECT_FALSE(scale.runFor(50ms));
    }
}

TEST(Scale, ACallbackThatThrowsLosesNothingAndRepeatsNothing) {
    auto pty = posix::PseudoTerminal::open();
    Scale scale(lineOn(pty));
    std::vector<std::string> texts;
    scale.onReading([&](const Reading& r) {
        texts.push_back(r.text);
        if (texts.size() == 1) throw std::runtime_error("the program's own");
        if (texts.size() == 3) scale.stop();
    });
    ASSERT_TRUE(scale.open());
    ASSERT_TRUE(writeAll(pty.master(), "=05.21000=0200000-=05.2100-="));
    EXPECT_THROW(scale.runFor(5s), std::runtime_error);
    EXPECT_TRUE(scale.isOpen());
    EXPECT_TRUE(scale.runFor(5s));
    EXPECT_EQ(texts, (std::vector<std::string>{"12.5", "-20", "-12.5"}));
}

TEST(Scale, ASecondOpenIsRefusedAndKeepsThePortAsItIs) {
    auto pty = posix::PseudoTerminal::open();
    Scale scale(lineOn(pty));
    Recorded r;
    record(scale, r);
    scale.onReading([&](const Reading& reading) {
        r.readings.push_back(reading);
        scale.stop();
    });
    ASSERT_TRUE(scale.open());
    ASSERT_TRUE(writeAll(pty.master(), "=05.21000="));
    std::this_thread::sleep_for(50ms); // in the port, not yet read
    EXPECT_FALSE(scale.open());
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].source, Error::Source::Open);
    EXPECT_EQ(r.errors[0].number, 8005);
    EXPECT_TRUE(scale.isOpen());
    EXPECT_TRUE(scale.runFor(5s));
    ASSERT_EQ(r.readings.size(), 1u) << "the frame waiting in the port was thrown away";
}

TEST(Scale, AMovedFromScaleIsSafeToUse) {
    auto pty = posix::PseudoTerminal::open();
    Scale scale(lineOn(pty));
    Scale taker(std::move(scale));
    const std::pair<const char*, std::function<void(Scale&)>> uses[] = {
        {"stop", [](Scale& s) { s.stop(); }},
        {"open fails", [](Scale& s) { EXPECT_FALSE(s.open()); }},
        {"is not open", [](Scale& s) { EXPECT_FALSE(s.isOpen()); }},
        {"nothing to poll", [](Scale& s) { EXPECT_TRUE(s.pollDescriptors().empty()); }},
        {"no timeout", [](Scale& s) { EXPECT_FALSE(s.nextTimeout()); }},
        {"process", [](Scale& s) { s.process(); }},
        {"run returns", [](Scale& s) { s.run(); }},
        {"runFor returns", [](Scale& s) { EXPECT_FALSE(s.runFor(10ms)); }},
        {"settings", [](Scale& s) { s.setStableSettings({}); }},
        {"callbacks", [](Scale& s) { s.onReading({}), s.onError({}), s.onPortLost({}); }},
        {"close", [](Scale& s) { s.close(); }},
    };
    for (const auto& [name, use] : uses) {
        SCOPED_TRACE(name);
        use(scale);
    }
    EXPECT_TRUE(taker.open()) << "the Scale moved to works";
}

TEST(Scale, FitsAnotherProgramsPollLoop) {
    auto pty = posix::PseudoTerminal::open();
    Scale scale(lineOn(pty));
    std::vector<std::string> texts;
    scale.onReading([&](const Reading& r) { texts.push_back(r.text); });
    ASSERT_TRUE(scale.open());
    scale.process(); // nothing ready: returns at once
    EXPECT_TRUE(texts.empty());
    ASSERT_TRUE(writeAll(pty.master(), "=05.21000=05.2100-="));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (texts.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        auto fds = pollFds(scale);
        ASSERT_FALSE(fds.empty());
        auto timeout = scale.nextTimeout();
        ::poll(fds.data(), fds.size(), timeout ? static_cast<int>(timeout->count()) : 1000);
        scale.process();
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"12.5", "-12.5"}));
}

} // namespace
} // namespace tolvak::testing
