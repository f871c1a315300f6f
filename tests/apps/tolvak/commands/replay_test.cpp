#include "tolvak/commands/replay.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tolvak/cli/control_options.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {
namespace {

ControlOptions options(const std::vector<std::string>& args) {
    return controlOptionsOf(args);
}

// The parser's worked example with the default settings: three chunks, the display written
// twice, twice and once, and the tail left for the next chunk after each.
TEST(Replay, WorkedExampleGivesTheWritesAndTails) {
    std::ostringstream out;
    Replayer replayer(options({}), out);
    replayer.feed("=05.21000=05.21000=05.2");
    replayer.feed("1000=05.21000=");
    replayer.feed("05.21000");
    EXPECT_EQ(out.str(), "display 12.5\ndisplay 12.5\nraw \"=05.2\"\n"
                         "display 12.5\ndisplay 12.5\nraw \"=\"\n"
                         "display 12.5\nraw \"\"\n");
}

struct ChunkCase {
    std::vector<std::string> args;
    std::string stream;
    size_t chunkSize;
    std::string expected;
};

class ReplayChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ReplayChunks, PrintsEveryWriteAndTail) {
    const auto& c = GetParam();
    std::ostringstream out;
    Replayer(options(c.args), out).feedAll(c.stream, c.chunkSize);
    EXPECT_EQ(out.str(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReplayChunks,
    ::testing::Values(
        // Chunk boundaries inside a frame: the tail waits, nothing is shown twice.
        ChunkCase{{},
                  "=05.21000=05.21000",
                  5,
                  "raw \"=05.2\"\ndisplay 12.5\nraw \"=\"\nraw \"=05.21\"\n"
                  "display 12.5\nraw \"\"\n"},
        ChunkCase{{"--decimals", "2"}, "=05210000", 0, "display 12.5\nraw \"\"\n"},
        ChunkCase{{}, "=05.2100-", 0, "display -12.5\nraw \"\"\n"},
        // A frame with a letter shows 0 and the next frame is still read.
        ChunkCase{{}, "=05.21O00=05.21000", 0, "display 0\ndisplay 12.5\nraw \"\"\n"},
        // CR/LF-framed display-order frames, read with CR/LF as the only separator.
        ChunkCase{{"--newline-sep", "0", "--enterkey-sep", "0", "--other-sep", "\\r\\n",
                   "--reverse", "0"},
                  "00012.50\r\n-0000003\r\n",
                  0,
                  "display 12.5\ndisplay -3\nraw \"\\r\\n\"\n"},
        // With the defaults a CR/LF frame is not numeric: this is why the options above exist.
        ChunkCase{{}, "05.21000\r\n", 0, "display 0\nraw \"\\n\"\n"},
        // Nothing but noise without a separator: kept, nothing shown.
        ChunkCase{{}, "\x01\xff", 0, "raw \"\\u0001\\u00ff\"\n"}));

// The simulated indicator and the control agree: every encoded weight reads back as itself.
struct RoundTripCase {
    double weight;
    int places;
    const char* shown;
};

class IndicatorRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(IndicatorRoundTrip, DefaultControlReadsTheFrame) {
    const auto& c = GetParam();
    FrameFormat format;
    format.places = c.places;
    std::ostringstream out;
    Replayer(options({}), out).feed(encodeFrame(c.weight, format));
    EXPECT_EQ(out.str(), std::string("display ") + c.shown + "\nraw \"\"\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, IndicatorRoundTrip,
    ::testing::Values(RoundTripCase{0, 0, "0"}, RoundTripCase{3, 3, "3"},
                      RoundTripCase{-1, 2, "-1"}, RoundTripCase{12.5, 2, "12.5"},
                      RoundTripCase{32000, 0, "32000"}, RoundTripCase{-20, 0, "-20"},
                      RoundTripCase{9999999, 0, "9999999"}, RoundTripCase{0.05, 2, "0.05"}));

// Through a whole truck profile, at every number of places the indicator takes, each frame fits
// the display and the control reads it back as the weight sent; the standing truck keeps the
// digits of its gross weight.
TEST(IndicatorRoundTrip, WholeProfileAtEveryPlaces) {
    const double standing[] = {32000, 32000, 3200, 320, 32, 3.2};
    for (int places = 0; places <= 5; ++places) {
        SCOPED_TRACE(places);
        EXPECT_EQ(displayedProfile(10, places), standing[places]);
        FrameFormat format;
        format.places = places;
        std::ostringstream out;
        Replayer replayer(options({}), out);
        std::vector<double> sent;
        for (int ms = 0; ms < kProfilePeriod * 1000; ms += 5) {
            const double weight = displayedProfile(ms / 1000.0, places);
            std::string frame;
            ASSERT_NO_THROW(frame = encodeFrame(weight, format)) << "at " << ms << " ms";
            replayer.feed(frame);
            sent.push_back(weight);
        }
        std::vector<double> shown;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("display ", 0) == 0) shown.push_back(std::stod(line.substr(8)));
        EXPECT_EQ(shown, sent);
    }
}

} // namespace
} // namespace tolvak::cli
