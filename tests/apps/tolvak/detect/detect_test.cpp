#include "tolvak/detect/detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "acquisition/formats/format.h"
#include "tolvak/simulator/indicator.h"
#include "uart_model.h"

namespace tolvak::cli {
namespace {

SerialSettings line(uint32_t baud, int dataBits = 8, Parity parity = Parity::None,
                    StopBits stop = StopBits::One) {
    return {baud, parity, dataBits, stop};
}

// Ten seconds of the truck profile, 20 frames a second: the weight stands still and moves.
template <typename Encode> std::string truckStream(Encode encode) {
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes += encode(displayedProfile(4 + i * 0.05, 0));
    return bytes;
}

std::string simulatorStream(FrameFormat format) {
    return truckStream(
        [&](double w) { return encodeFrame(w / std::pow(10, format.places), format); });
}

struct UartCase {
    SerialSettings sender, receiver;
    bool sameBytes, errors;
};

class UartModel : public ::testing::TestWithParam<UartCase> {};

TEST_P(UartModel, ReceivesTheBytesOnlyWhenTheSettingsMatch) {
    const auto& c = GetParam();
    const std::string sent = "=00023000=05.21000\r\n\x7f\xff";
    const LineCapture got = resampleUart(sent, c.sender, c.receiver);
    EXPECT_EQ(got.bytes == sent, c.sameBytes) << got.bytes;
    EXPECT_EQ(!got.errors.empty(), c.errors);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UartModel,
    ::testing::Values(UartCase{line(9600), line(9600), true, false},
                      UartCase{line(1200, 8, Parity::None, StopBits::Two), line(1200), true, false},
                      UartCase{line(9600), line(2400), false, true},
                      UartCase{line(2400), line(9600), false, true},
                      UartCase{line(9600), line(19200), false, true},
                      UartCase{line(9600), line(9600, 7, Parity::Even), false, true},
                      // The parity bit lands where the stop bit should be, or does not match.
                      UartCase{line(4800, 8, Parity::Odd), line(4800), true, true},
                      UartCase{line(4800, 8, Parity::Odd), line(4800, 8, Parity::Even), true,
                               true}));

TEST(Detect, ErrorMarksComeOffTheBytes) {
    const LineCapture c = unmarkErrors(std::string("a\377\0b\377\377c\377\0\0", 10));
    EXPECT_EQ(c.bytes, std::string("ab\377c\0", 5));
    EXPECT_EQ(c.errors, (std::vector<size_t>{1, 4}));
}

// Every format the library encodes, and the simulator's frames in every layout, are found with
// options that read them.
struct CaptureCase {
    std::string name;
    std::string bytes;
    std::string format;
    std::vector<std::string> options;
    bool controlFits;
};

std::vector<CaptureCase> captureCases() {
    std::vector<CaptureCase> cases = {
        {"reversed", simulatorStream({}), "control", {}, true},
        {"reversed2", simulatorStream({2, "=", "", true}), "control", {}, true},
        {"crlf", simulatorStream({0, "", "\r\n", false}), "line", {"--format", "line"}, true},
        {"cr", simulatorStream({2, "", "\r", false}), "line", {"--format", "line"}, true},
        // Read by the stream decoder with fewer options; the control reads it too.
        {"stx",
         simulatorStream({0, "\x02", "\x03", false}),
         "stream",
         {"--format", "stream"},
         true},
    };
    for (const formats::Format* f : formats::allFormats())
        if (f->encode)
            cases.push_back({std::string(f->name),
                             truckStream([&](double w) {
                                 formats::Sample s;
                                 s.weight = w;
                                 s.stable = static_cast<int>(w) % 3 == 0;
                                 return f->encode(s);
                             }),
                             std::string(f->name),
                             {"--format", std::string(f->name)},
                             false});
    // A 7E1 line captured as 8 bits: bit 7 is the parity of the others.
    std::string parity = cases.back().bytes;
    for (char& c : parity)
        c = static_cast<char>(c | (__builtin_popcount(c & 0x7F) % 2 ? 0x80 : 0));
    cases.push_back({"seven_bits",
                     parity,
                     cases.back().format,
                     {"--format", cases.back().format, "--data-bits", "7", "--parity", "e"},
                     false});
    return cases;
}

class DetectCapture : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(DetectCapture, NamesTheFormatAndOptions) {
    const auto& c = GetParam();
    const FormatGuess guess = guessFormat({c.bytes, {}});
    EXPECT_EQ(guess.format, c.format);
    EXPECT_EQ(guess.options, c.options);
    EXPECT_GE(guess.confidence, 0.9);
    EXPECT_EQ(guess.controlConfidence > 0, c.controlFits || c.format == "control");
    // Cut anywhere, the capture still reads the same.
    EXPECT_EQ(guessFormat({c.bytes.substr(7), {}}).format, c.format);
}

INSTANTIATE_TEST_SUITE_P(Table, DetectCapture, ::testing::ValuesIn(captureCases()),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(Detect, SaysSoWhenNothingFits) {
    std::string noise;
    for (int i = 0; i < 2000; ++i)
        noise += static_cast<char>((i * 7919) % 251);
    const std::string stream = simulatorStream({});
    for (const LineCapture& c :
         {LineCapture{noise, {}}, LineCapture{}, resampleUart(stream, line(9600), line(2400)),
          resampleUart(stream, line(2400), line(9600))})
        EXPECT_LT(guessFormat(c).confidence, 0.25) << c.bytes.substr(0, 40);
}

// A weight that never moves reads as well reversed as in display order: said, and less sure.
TEST(Detect, DoubtsADigitOrderItCannotTell) {
    const std::string bytes = [] {
        std::string s;
        for (int i = 0; i < 50; ++i)
            s += "=05.21000";
        return s;
    }();
    const FormatGuess guess = guessFormat({bytes, {}});
    EXPECT_EQ(guess.format, "control");
    EXPECT_LT(guess.confidence, 0.6); // a guess, not "likely"
    ASSERT_FALSE(guess.doubts.empty());
    EXPECT_NE(guess.doubts.front().find("--reverse 0"), std::string::npos);
}

// The rate and framing a live search finds, with the UART model as the line: the indicator
// sends at one setting, the search listens at each of its own.
class DetectLine : public ::testing::TestWithParam<SerialSettings> {};

TEST_P(DetectLine, FindsTheRateAndFraming) {
    const SerialSettings sender = GetParam();
    const std::string stream = simulatorStream({});
    const LineGuess guess = searchLine(
        [&](const SerialSettings& receiver) { return resampleUart(stream, sender, receiver); });
    EXPECT_EQ(lineName(guess.line), lineName(sender));
    EXPECT_EQ(guess.format.format, "control");
    EXPECT_GE(guess.format.confidence, 0.9);
    EXPECT_EQ(guess.format.options.at(1), std::to_string(sender.baud));
}

INSTANTIATE_TEST_SUITE_P(Table, DetectLine,
                         ::testing::Values(line(2400), line(1200), line(115200),
                                           line(9600, 7, Parity::Even), line(4800, 7, Parity::Odd),
                                           line(19200, 8, Parity::Even),
                                           line(38400, 8, Parity::Odd)));

} // namespace
} // namespace tolvak::cli
