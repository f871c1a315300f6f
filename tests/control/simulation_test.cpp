// Simulated readings: RndStart, RndEnd and Timer1's tick.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "fakes.h"

namespace tolvak::testing {
namespace {

TEST(Simulation, TickWritesTheReadingWithALeadingBlankAndNoRepaint) {
    const std::pair<float, const char16_t*> cases[] = {
        {0.0f, u" 0"},
        {0.5f, u" 50000"},
        {0.125f, u" 12500"},
        {0.0009765625f, u" 97"},     // 97.65625 rounds down
        {7.62939453125e-06f, u" 0"}, // 0.76 rounds down
        {std::nextafter(1.0f, 0.0f), u" 99999"},
        {1.0f, u" 99999"}, // a generator that returns 1 must not give 100000
        {-0.25f, u" 0"},
    };
    for (const auto& [draw, text] : cases) {
        SCOPED_TRACE(utf8(text));
        Harness h;
        h.random->values = {draw};
        h.timer->tick();
        EXPECT_EQ(h.control->getTolvakValue(), text);
        EXPECT_EQ(h.surface.events, std::vector<std::string>{"text:lblNumber=" + utf8(text)});
        EXPECT_EQ(h.random->seeds, 1);
    }
}

TEST(Simulation, EveryTickReseedsAndStaysInRange) {
    Harness h;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int ticks = 2000;
    for (int i = 0; i < ticks; ++i)
        h.random->values.push_back(i % 100 == 0 ? 1.0f : unit(rng));
    for (int i = 0; i < ticks; ++i) {
        h.timer->tick();
        std::u16string text = h.control->getTolvakValue();
        ASSERT_GE(text.size(), 2u);
        ASSERT_LE(text.size(), 6u);
        ASSERT_EQ(text[0], u' ');
        for (size_t k = 1; k < text.size(); ++k)
            ASSERT_TRUE(text[k] >= u'0' && text[k] <= u'9');
        ASSERT_TRUE(text.size() == 2 || text[1] != u'0') << "no leading zeros";
    }
    EXPECT_EQ(h.random->seeds, ticks);
}

TEST(Simulation, TickThatTheDisplayRefusesKeepsTheOldText) {
    Harness h;
    h.surface.failNext("text:lblNumber", 7, u"Out of memory");
    EXPECT_NO_THROW(h.timer->tick());
    EXPECT_EQ(h.control->getTolvakValue(), u"8888888");
}

struct RndCase {
    const char16_t* method;
    bool portOpen;
    std::vector<std::string> serial;
    std::vector<std::string> timer;
    bool enabled;
    int32_t interval;
};

TEST(Simulation, RndStartAndRndEndCloseAnOpenPortThenSetTheTimer) {
    const RndCase cases[] = {
        {u"RndStart", false, {"read:PortOpen"}, {"Enabled=true", "Interval=2000"}, true, 2000},
        {u"RndStart",
         true,
         {"read:PortOpen", "PortOpen=false"},
         {"Enabled=true", "Interval=2000"},
         true,
         2000},
        {u"RndEnd", false, {"read:PortOpen"}, {"Enabled=false", "Interval=0"}, false, 0},
        {u"RndEnd",
         true,
         {"read:PortOpen", "PortOpen=false"},
         {"Enabled=false", "Interval=0"},
         false,
         0},
    };
    for (const RndCase& c : cases) {
        SCOPED_TRACE(utf8(c.method) + (c.portOpen ? " open" : " closed"));
        Harness h;
        h.serial->open = c.portOpen;
        h.timer->log.clear();
        Variant result = h.call(c.method);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
        EXPECT_EQ(h.journal, c.serial);
        EXPECT_EQ(h.timer->log, c.timer);
        EXPECT_EQ(h.timer->enabled, c.enabled);
        EXPECT_EQ(h.timer->interval, c.interval);
        EXPECT_FALSE(h.serial->open);
        EXPECT_TRUE(h.msgBox->boxes.empty());
    }
}

TEST(Simulation, FailuresStopAtTheirStepAndReachTheCaller) {
    struct Case {
        const char16_t* method;
        const char* where;
        const char* op;
        std::vector<std::string> timer; // timer writes that happened
    };
    const Case cases[] = {
        {u"RndStart", "serial", "PortOpen.get", {}},
        {u"RndStart", "serial", "PortOpen", {}},
        {u"RndStart", "timer", "Enabled", {}},
        {u"RndStart", "timer", "Interval", {"Enabled=true"}},
        {u"RndEnd", "serial", "PortOpen.get", {}},
        {u"RndEnd", "serial", "PortOpen", {}},
        {u"RndEnd", "timer", "Enabled", {}},
        {u"RndEnd", "timer", "Interval", {"Enabled=false"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.method) + " " + c.op);
        Harness h;
        h.serial->open = true;
        h.timer->log.clear();
        if (std::string(c.where) == "serial")
            h.serial->failNext(c.op, 8012, u"Port not open");
        else
            h.timer->failNext(c.op, 8012, u"Port not open");
        auto error = trapErrors([&] { h.call(c.method); });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), 8012);
        EXPECT_EQ(error->description(), u"Port not open");
        EXPECT_EQ(h.timer->log, c.timer);
        EXPECT_TRUE(h.msgBox->boxes.empty());
    }
}

TEST(Simulation, LastReadingStaysAfterRndEndUntilAFrameArrives) {
    Harness h;
    h.control->RndStart();
    h.random->values = {0.00502f};
    h.timer->tick();
    std::u16string reading = h.control->getTolvakValue();
    h.control->RndEnd();
    EXPECT_EQ(h.control->getTolvakValue(), reading);
    h.control->OpenComm();
    h.serial->receive(u"=05.21000=");
    EXPECT_EQ(h.control->getTolvakValue(), u"12.5");
}

TEST(Simulation, FramesAndTicksBothWriteTheDisplay) {
    Harness h;
    h.control->RndStart();
    h.control->OpenComm();
    h.serial->receive(u"=05.21000=");
    EXPECT_EQ(h.control->getTolvakValue(), u"12.5");
    h.random->values = {0.5f};
    h.timer->tick();
    EXPECT_EQ(h.control->getTolvakValue(), u" 50000");
}

} // namespace
} // namespace tolvak::testing
