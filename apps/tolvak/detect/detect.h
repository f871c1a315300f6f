#pragma once

// Finding an unknown indicator's line settings and output format: every decoder is tried on what
// the line gave, with the settings the bytes suggest, and judged by how well the bytes decode.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/line_settings.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/platform/line_capture.h"

namespace tolvak::cli {

// Below kFits nothing is said to fit; below kLikely it is a guess.
constexpr double kFits = 0.25;
constexpr double kLikely = 0.6;
// One label per confidence: "certain", "likely", "a guess".
const char* sureness(double confidence);
// A confidence as it is shown: to two places.
double rounded(double confidence);
// Options as a shell reads them back.
std::string commandLine(const std::vector<std::string>& options);

// Scores closer than this are a tie: the shorter command line, then the earlier candidate wins.
constexpr double kTie = 0.005;

// The parity of 7-bit characters captured as 8 bits, when bit 7 carries one; none otherwise.
std::optional<Parity> parityInBit7(std::string_view bytes);

// The best reading of a capture.
struct FormatGuess {
    std::string format;               // the decoder's name; empty: nothing fits
    std::vector<std::string> options; // for tolvak read and replay, line settings included
    double confidence = 0;            // 0 to 1
    std::vector<std::string> doubts;  // what lowered the confidence, in words
    std::vector<std::string> notes;   // what the bytes cannot tell
    // The same capture read by the control's own format, when it fits too: the options of its
    // setters (empty when it does not fit).
    std::vector<std::string> controlOptions;
    double controlConfidence = 0;
};

// Tries every decoder on the capture. With a line, its options are added: --baud always, the
// framing where it is not 8N1.
FormatGuess guessFormat(const LineCapture& capture, const SerialSettings* line = nullptr);

// The baud rates and framings tried on a live port, most common first: ties go to the earlier.
const std::vector<uint32_t>& commonRates();
const std::vector<SerialSettings>& commonFramings(); // baud left at 0

struct LineGuess {
    SerialSettings line;
    FormatGuess format;
    // Every setting listened to and how well it decoded, in the order tried.
    std::vector<std::pair<SerialSettings, double>> tried;
};

// Listens at every common rate at 8N1 (judging the bytes also as 7-bit characters with a parity
// bit), then at the best rate with every common framing unless 8N1 came clean, and keeps the
// setting whose bytes decode best.
// listen(settings) sets the line and returns what arrived in a while.
LineGuess searchLine(const std::function<LineCapture(const SerialSettings&)>& listen);

} // namespace tolvak::cli
