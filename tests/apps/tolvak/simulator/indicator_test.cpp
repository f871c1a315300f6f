#include "tolvak/simulator/indicator.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tolvak::cli {
namespace {

struct FrameCase {
    double weight;
    int places;
    std::string separator;
    std::string terminator;
    bool leastSignificantFirst;
    std::string frame; // empty: does not fit
};

class FrameEncoding : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameEncoding, EncodesOrRefuses) {
    const auto& c = GetParam();
    FrameFormat format{c.places, c.separator, c.terminator, c.leastSignificantFirst};
    if (c.frame.empty())
        EXPECT_THROW(encodeFrame(c.weight, format), std::out_of_range);
    else
        EXPECT_EQ(encodeFrame(c.weight, format), c.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameEncoding,
    ::testing::Values(
        FrameCase{3, 3, "=", "", true, "=000.3000"}, FrameCase{-1, 2, "=", "", true, "=00.1000-"},
        FrameCase{12.5, 2, "=", "", true, "=05.21000"}, FrameCase{0, 0, "=", "", true, "=00000000"},
        FrameCase{32000, 0, "=", "", true, "=00023000"},
        FrameCase{-20, 0, "=", "", true, "=0200000-"},
        // Rounded to the display: no "-0" for a weight that rounds to zero.
        FrameCase{-0.001, 2, "=", "", true, "=00.00000"},
        FrameCase{2.36, 1, "=", "", true, "=4.200000"},
        FrameCase{12.5, 2, "", "\r\n", false, "00012.50\r\n"},
        FrameCase{-3, 0, "\x02", "\x03", false, "\x02-0000003\x03"},
        FrameCase{9999999, 0, "=", "", true, "=99999990"},
        FrameCase{10000000, 0, "=", "", true, ""}, FrameCase{100000, 2, "=", "", true, ""},
        FrameCase{NAN, 0, "=", "", true, ""}, FrameCase{1, 6, "=", "", true, ""}));

TEST(TruckProfile, DrivesOnStandsAndDrivesOff) {
    EXPECT_EQ(truckProfile(0), 0);
    EXPECT_EQ(truckProfile(10), kProfileGross);
    EXPECT_EQ(truckProfile(10 + kProfilePeriod), kProfileGross);
    EXPECT_EQ(truckProfile(17.2), -20);
    EXPECT_EQ(truckProfile(19), 0);
    double previous = truckProfile(13);
    for (double t = 13; t < 16; t += 0.05) { // driving off never climbs
        double w = truckProfile(t);
        EXPECT_LE(w, previous) << t;
        previous = w;
    }
    for (double t = 0; t < kProfilePeriod; t += 0.01) {
        double w = truckProfile(t);
        EXPECT_EQ(std::fmod(w, 20.0), 0.0) << t; // the 20 kg division
        EXPECT_GE(w, -20) << t;
        EXPECT_LE(w, kProfilePeak) << t;
        EXPECT_FALSE(std::signbit(w) && w == 0) << t;
    }
}

} // namespace
} // namespace tolvak::cli
