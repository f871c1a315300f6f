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
};

struct Case {
    const char* name;
    std::chrono::milliseconds window;
    double tolerance;
    std::vector<Step> steps;
};

const Case kCases[] = {
    {"a lone reading is never stable", milliseconds(1000), 0, {{0, 100, false}}},
    {"a second equal reading within the window is",
     milliseconds(1000),
     0,
     {{0, 100, false}, {500, 100, true}}},
    {"the window's oldest edge still counts",
     milliseconds(1000),
     0,
     {{0, 100, false}, {1000, 100, true}, {2001, 100, false}}},
    {"readings further apart than the window are not",
     milliseconds(1000),
     0,
     {{0, 100, false}, {1500, 100, false}, {3000, 100, false}}},
    {"motion in the window holds stability off until it leaves",
     milliseconds(1000),
     0,
     {{0, 100, false},
      {200, 200, false},
      {400, 200, false},
      {900, 200, false},
      {1100, 200, true}}}, // 100 at 0 ms has left the window
    {"a drop back makes it unstable at once",
     milliseconds(1000),
     0,
     {{0, 500, false}, {100, 500, true}, {200, 400, false}, {300, 400, false}}},
    {"tolerance takes small differences, in display units",
     milliseconds(1000),
     0.01,
     {{0, 12.50, false}, {100, 12.51, true}, {200, 12.50, true}, {300, 12.52, false}}},
    {"tolerance is measured from the reading being judged",
     milliseconds(1000),
     1,
     {{0, 10, false}, {100, 11, true}, {200, 12, false}, {300, 11, true}}},
    {"zero tolerance demands equal values",
     milliseconds(1000),
     0,
     {{0, -20, false}, {100, -20, true}, {200, -20.5, false}}},
    {"a reading that is not a number is never stable and spoils the window",
     milliseconds(1000),
     0,
     {{0, 100, false},
      {100, std::nullopt, false},
      {200, std::nullopt, false},
      {300, 100, false},
      {1250, 100, true}}},
    {"a shorter window settles sooner",
     milliseconds(200),
     0,
     {{0, 100, false}, {100, 300, false}, {200, 300, false}, {301, 300, true}}},
    {"readings at the same instant count", milliseconds(1000), 0, {{0, 7, false}, {0, 7, true}}},
};

TEST(StableWeight, Sequences) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        StableWeight detector(c.window, c.tolerance);
        const StableWeight::Clock::time_point start{};
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            SCOPED_TRACE("reading " + std::to_string(i) + " at " + std::to_string(s.ms) + " ms");
            EXPECT_EQ(detector.add(s.value, start + milliseconds(s.ms)), s.stable);
        }
    }
}

TEST(StableWeight, ResetForgetsTheWindow) {
    StableWeight detector;
    const StableWeight::Clock::time_point start{};
    detector.add(100, start);
    EXPECT_TRUE(detector.add(100, start + milliseconds(10)));
    detector.reset();
    EXPECT_FALSE(detector.add(100, start + milliseconds(20)));
    EXPECT_TRUE(detector.add(100, start + milliseconds(30)));
}

} // namespace
} // namespace tolvak::testing
