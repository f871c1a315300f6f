// Stable weight: which readings of a sequence count as standing still.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "acquisition/stable_weight.h"

namespace tolvak::testing {
namespace {

using std::chrono::milliseconds;

struct Step {
    int ms;                      // time of the reading since the start
    std::optional<double> value; // nullopt: the display showed something that is not a number
    bool stable;                 // what the detector must say
    int newWindowMs = 0;         // when set, the window changes just before this reading
};

struct Case {
    const char* name;
    std::chrono::milliseconds window;
    double tolerance;
    std::vector<Step> steps;
};

const Case kCases[] = {
    {"a lone reading is never stable", milliseconds(1000), 0, {{0, 100, false}}},
    {"stable once the weight has been seen for a whole window",
     milliseconds(1000),
     0,
     {{0, 100, false}, {500, 100, false}, {999, 100, false}, {1000, 100, true}}},
    {"readings at the same instant are not a window",
     milliseconds(1000),
     0,
     {{0, 7, false}, {0, 7, false}}},
    {"a reading older than the window stands for the display until the next",
     milliseconds(1000),
     0,
     {{0, 100, false}, {1500, 100, true}, {3000, 100, true}}},
    {"motion holds stability off for a window after it",
     milliseconds(1000),
     0,
     {{0, 100, false},
      {200, 200, false},
      {900, 200, false},
      {1100, 200, false}, // the display still showed 100 at 100 ms
      {1200, 200, true}}},
    {"a drop back makes it unstable at once",
     milliseconds(1000),
     0,
     {{0, 500, false}, {1000, 500, true}, {1100, 400, false}, {1200, 400, false}}},
    {"tolerance takes small differences, in display units",
     milliseconds(1000),
     0.01,
     {{0, 12.50, false}, {1000, 12.51, true}, {1100, 12.50, true}, {1200, 12.52, false}}},
    {"tolerance is measured from the reading being judged",
     milliseconds(1000),
     1,
     {{0, 10, false}, {1000, 11, true}, {1100, 12, false}, {1200, 11, true}}},
    {"zero tolerance demands equal values",
     milliseconds(1000),
     0,
     {{0, -20, false}, {1000, -20, true}, {1100, -20.5, false}}},
    {"zero tolerance tells the last digit of a large display",
     milliseconds(1000),
     0,
     {{0, 123456.7890, false}, {1000, 123456.7891, false}, {2000, 123456.7891, true}}},
    {"a reading that is not a number is never stable and starts the history again",
     milliseconds(1000),
     0,
     {{0, 100, false},
      {1000, std::nullopt, false},
      {1100, 100, false},
      {2050, 100, false},
      {2100, 100, true}}},
    {"a shorter window settles sooner",
     milliseconds(200),
     0,
     {{0, 100, false}, {100, 300, false}, {200, 300, false}, {300, 300, true}}},
    {"a shorter window judges the history kept",
     milliseconds(1000),
     0,
     {{0, 100, false}, {300, 100, false}, {400, 100, true, 200}}},
    {"a longer window waits until the history reaches back that far",
     milliseconds(500),
     0,
     {{0, 100, false},
      {600, 100, true},
      {1200, 100, true},
      {1300, 100, false, 2000}, // the history kept reaches back to 600 ms only
      {2600, 100, true}}},
};

TEST(StableWeight, Sequences) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        StableWeight detector(c.window, c.tolerance);
        const StableWeight::Clock::time_point start{};
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            SCOPED_TRACE("reading " + std::to_string(i) + " at " + std::to_string(s.ms) + " ms");
            if (s.newWindowMs) detector.setSettings(milliseconds(s.newWindowMs), c.tolerance);
            EXPECT_EQ(detector.add(s.value, start + milliseconds(s.ms)), s.stable);
        }
    }
}

TEST(StableWeight, ResetForgetsTheWindow) {
    StableWeight detector;
    const StableWeight::Clock::time_point start{};
    detector.add(100, start);
    EXPECT_TRUE(detector.add(100, start + milliseconds(1000)));
    detector.reset();
    EXPECT_FALSE(detector.add(100, start + milliseconds(1010)));
    EXPECT_TRUE(detector.add(100, start + milliseconds(2010)));
}

} // namespace
} // namespace tolvak::testing
