#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/event_loop.h"
#include "tolvak/output/led_display.h"
#include "tolvak/platform/posix_tool.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {
namespace {

// Rows of the big display with the block characters as '#', for comparison.
std::vector<std::string> asHashes(const std::vector<std::string>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size();) {
            if (row.compare(i, 3, "\u2588") == 0) {
                line += '#';
                i += 3;
            } else {
                line += row[i++];
            }
        }
        out.push_back(line);
    }
    return out;
}

struct LedCase {
    std::string text;
    std::vector<std::string> rows;
};

class LedTest : public ::testing::TestWithParam<LedCase> {};

TEST_P(LedTest, DrawsEachCharacterTwoBlocksWide) {
    EXPECT_EQ(asHashes(renderLed(GetParam().text)), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LedTest,
    ::testing::Values(LedCase{"", {"", "", "", "", ""}},
                      LedCase{"1", {"    ##  ", "    ##  ", "    ##  ", "    ##  ", "    ##  "}},
                      LedCase{"-0",
                              {"        ######  ", "        ##  ##  ", "######  ##  ##  ",
                               "        ##  ##  ", "        ######  "}},
                      LedCase{"7.5",
                              // The point takes one cell.
                              {"######      ######  ", "    ##      ##      ",
                               "    ##      ######  ", "    ##          ##  ",
                               "    ##  ##  ######  "}},
                      // No glyph: a blank cell of the same width, so the layout does not jump.
                      LedCase{"?", {"        ", "        ", "        ", "        ", "        "}}));

TEST(LedScreen, FrameHasTitleDigitsChunkAndStatus) {
    LedScreen screen("title", false);
    std::string frame = screen.frame("8", "\"=0800000\"", "frames sent 3");
    EXPECT_EQ(frame.rfind("\x1b[H", 0), 0u); // redrawn in place
    EXPECT_NE(frame.find("title\x1b[K\n"), std::string::npos);
    EXPECT_NE(frame.find("raw: \"=0800000\""), std::string::npos);
    EXPECT_NE(frame.find("frames sent 3"), std::string::npos);
    EXPECT_EQ(frame.find("\x1b[1;31m"), std::string::npos); // no colour when asked for none
    EXPECT_NE(LedScreen("t", true).frame("8", "", "").find("\x1b[1;31m"), std::string::npos);
}

struct PaceCase {
    uint32_t baud;
    double rate;
    std::string separator;
    double interval; // seconds
};

class IndicatorPace : public ::testing::TestWithParam<PaceCase> {};

TEST_P(IndicatorPace, LineRateOrRequestedRateWhicheverIsSlower) {
    posix::EventLoop loop;
    IndicatorConfig config;
    config.baud = GetParam().baud;
    config.rate = GetParam().rate;
    config.format.separator = GetParam().separator;
    PosixToolLoop toolLoop(loop);
    Indicator indicator(toolLoop, fdWriter(-1), config);
    EXPECT_NEAR(indicator.frameInterval(), GetParam().interval, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Table, IndicatorPace,
                         ::testing::Values(PaceCase{2400, 0, "=", 9 * 10 / 2400.0},
                                           PaceCase{9600, 0, "=", 9 * 10 / 9600.0},
                                           PaceCase{9600, 20, "=", 0.05},
                                           PaceCase{2400, 1000, "=", 9 * 10 / 2400.0},
                                           PaceCase{2400, 0, "\x02\x03", 10 * 10 / 2400.0}));

TEST(Indicator, CountedRunWritesWholeFramesThenFinishes) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    posix::EventLoop loop;
    IndicatorConfig config;
    config.weight = 1234.5;
    config.format.places = 1;
    config.baud = 115200;
    config.count = 5;
    PosixToolLoop toolLoop(loop);
    Indicator indicator(toolLoop, fdWriter(fds[1]), config);
    bool finished = false;
    indicator.setOnFinished([&] {
        finished = true;
        loop.quit();
    });
    indicator.start();
    loop.runFor(std::chrono::seconds(5));
    EXPECT_TRUE(finished);
    EXPECT_EQ(indicator.framesSent(), 5u);
    EXPECT_EQ(indicator.framesDropped(), 0u);
    char buffer[256];
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    std::string frame = encodeFrame(1234.5, config.format);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), frame + frame + frame + frame + frame);
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace
} // namespace tolvak::cli
