#include "tolvak/detect/detect.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "acquisition/formats/format.h"
#include "text/line_text.h"
#include "tolvak/output/text_format.h"

namespace tolvak::cli {

namespace {

using formats::Settings;

// A reading that other settings match as well is never more than a guess.
constexpr double kGuessAtMost = 0.5;

// Digits, signs, points, blanks and the letters of units and status words: what frames hold.
bool isFrameByte(char byte) {
    const auto c = static_cast<unsigned char>(byte);
    return std::isalnum(c) || c == '.' || c == ',' || c == '-' || c == '+' || c == ' ';
}

// The bytes that may end or begin frames: the most frequent ones that frames do not hold,
// and the most frequent pair of them (CR LF, ETX STX) before them.
std::vector<std::string> separatorCandidates(std::string_view bytes) {
    std::array<size_t, 256> counts{};
    std::map<std::string_view, size_t> pairs;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (isFrameByte(bytes[i])) continue;
        ++counts[static_cast<unsigned char>(bytes[i])];
        if (i + 1 < bytes.size() && !isFrameByte(bytes[i + 1])) ++pairs[bytes.substr(i, 2)];
    }
    std::vector<std::string> out;
    auto pair = std::max_element(pairs.begin(), pairs.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    if (pair != pairs.end() && pair->second >= 2) out.emplace_back(pair->first);
    for (int n = 0; n < 3; ++n) {
        auto top = std::max_element(counts.begin(), counts.end());
        if (*top < 2) break;
        out.emplace_back(1, static_cast<char>(top - counts.begin()));
        *top = 0;
    }
    return out;
}

// The shortest length that nine pieces in ten between separators reach: a frame at least this
// long is complete, and the odd cut piece is not taken for one.
int16_t typicalPieceLength(std::string_view bytes, std::string_view separator) {
    std::vector<size_t> lengths;
    size_t start = 0;
    for (size_t at = bytes.find(separator); at != std::string_view::npos;
         at = bytes.find(separator, start)) {
        if (at > start) lengths.push_back(at - start);
        start = at + separator.size();
    }
    if (lengths.empty()) return Settings{}.eloadBits;
    std::sort(lengths.begin(), lengths.end());
    return static_cast<int16_t>(std::min<size_t>(lengths[lengths.size() / 10], 32767));
}

// Settings a decoder may need for these bytes, the defaults first. A decoder that takes none
// reads them all alike, and the defaults win the tie.
std::vector<Settings> settingsCandidates(std::string_view bytes) {
    std::vector<Settings> out;
    for (bool reversed : {true, false}) {
        Settings s;
        s.reversed = reversed;
        s.eloadBits = typicalPieceLength(bytes, s.otherSeparator);
        out.push_back(s);
    }
    for (const std::string& sep : separatorCandidates(bytes)) {
        // The control's own separators stay on where they do no harm: the bytes lack them.
        auto absent = [&](std::string_view b) { return bytes.find(b) == std::string_view::npos; };
        Settings s;
        s.newLineSeparates = sep == "\n" || absent("\n");
        s.carriageReturnSeparates = sep == "\r" || absent("\r");
        if (sep == "\n" || sep == "\r") {
            if (!absent(s.otherSeparator)) s.otherSeparator.clear();
        } else {
            s.otherSeparator = sep;
        }
        s.eloadBits = typicalPieceLength(bytes, sep);
        // Lines ended by CR or LF are mostly in display order; frames led by another byte are
        // as often reversed.
        const bool lineEnd = sep.find_first_of("\r\n") != std::string::npos;
        for (bool reversed : {!lineEnd, lineEnd}) {
            s.reversed = reversed;
            out.push_back(s);
        }
    }
    return out;
}

// How far the readings jump from one to the next against their size: near 0 for a weight that
// stands or moves, near 1 for digits read in the wrong order.
double roughness(const std::vector<double>& values) {
    double largest = 0, moved = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        largest = std::max(largest, std::fabs(values[i]));
        if (i > 0) moved += std::fabs(values[i] - values[i - 1]);
    }
    if (values.size() < 2 || largest == 0) return 0;
    return std::min(1.0, moved / static_cast<double>(values.size() - 1) / largest);
}

// The command-line text of a separator: escapes for what a shell or terminal would eat.
std::string escaped(std::string_view bytes) {
    static const std::map<char, std::string> named = {
        {'\r', "\\r"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\\', "\\\\"}};
    std::string out;
    for (unsigned char c : bytes) {
        if (auto it = named.find(static_cast<char>(c)); it != named.end()) {
            out += it->second;
        } else if (c < 0x20 || c >= 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::vector<std::string> settingsOptions(const Settings& s) {
    const Settings d;
    std::vector<std::string> out;
    auto add = [&](bool differs, const char* option, const std::string& value) {
        if (differs) out.insert(out.end(), {option, value});
    };
    add(s.decimals != d.decimals, "--decimals", std::to_string(s.decimals));
    add(s.eloadPrebits != d.eloadPrebits, "--eload-prebits", std::to_string(s.eloadPrebits));
    add(s.eloadBits != d.eloadBits, "--eload-bits", std::to_string(s.eloadBits));
    add(s.newLineSeparates != d.newLineSeparates, "--newline-sep", s.newLineSeparates ? "1" : "0");
    add(s.carriageReturnSeparates != d.carriageReturnSeparates, "--enterkey-sep",
        s.carriageReturnSeparates ? "1" : "0");
    add(s.otherSeparator != d.otherSeparator, "--other-sep", escaped(s.otherSeparator));
    add(s.reversed != d.reversed, "--reverse", s.reversed ? "1" : "0");
    return out;
}

std::vector<std::string> lineOptions(const SerialSettings& line) {
    std::vector<std::string> out = {"--baud", std::to_string(line.baud)};
    if (line.dataBits != 8) out.insert(out.end(), {"--data-bits", std::to_string(line.dataBits)});
    if (line.parity != Parity::None) {
        static const char letters[] = "neoms";
        out.insert(out.end(), {"--parity", std::string(1, letters[int(line.parity)])});
    }
    if (line.stopBits != StopBits::One) out.insert(out.end(), {"--stop-bits", "2"});
    return out;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

struct Judged {
    const formats::Format* format = nullptr;
    Settings settings;
    std::vector<std::string> options; // the format's own, without the line's
    double score = 0;
    std::vector<double> values;
    bool hasPoint = false; // some frame has a decimal point or comma
    uint64_t flags = 0;    // units, modes, stable flags and ranges the frames carry
};

std::optional<Judged> judge(const formats::Format& format, const Settings& settings,
                            std::string_view bytes) {
    // Settings a format does not read are tried only once, at their defaults.
    if (!(format.uses & formats::kUsesFraming) && !settingsOptions(settings).empty())
        return std::nullopt;
    std::unique_ptr<formats::Decoder> fitted, decoder;
    try {
        fitted = format.make(settings);
        decoder = format.make(settings);
    } catch (const std::invalid_argument&) {
        return std::nullopt; // a format that needs settings the bytes cannot suggest
    }
    Judged j;
    j.format = &format;
    j.settings = settings;
    const formats::Fit fit = formats::fit(*fitted, bytes);
    std::vector<formats::Frame> frames;
    decoder->feed(bytes, frames);
    for (const formats::Frame& f : frames)
        if (f.status == formats::Frame::Status::Ok && f.value) {
            j.values.push_back(*f.value);
            j.hasPoint = j.hasPoint || f.raw.find_first_of(".,") != std::string::npos;
            // The first frame may be cut short: it is not judged (see formats::fit).
            if (&f != &frames.front())
                j.flags += !f.unit.empty() + (f.mode != formats::WeightMode::Unknown) +
                           f.stable.has_value() + (f.range != formats::Range::InRange);
        }
    j.score = fit.confidence * (1 - roughness(j.values));
    if (&format != formats::allFormats().front())
        j.options = {"--format", std::string(format.name)};
    const auto own = settingsOptions(settings);
    j.options.insert(j.options.end(), own.begin(), own.end());
    return j;
}

// Whether two decoders read the same weights, whatever each makes of the frames at the ends of
// the capture (cut short, or still waiting for their end).
bool sameReadings(const std::vector<double>& a, const std::vector<double>& b) {
    auto middle = [](const std::vector<double>& v) {
        return v.size() > 2 ? std::set<double>(v.begin() + 1, v.end() - 1)
                            : std::set<double>(v.begin(), v.end());
    };
    const std::set<double> x = middle(a), y = middle(b);
    return std::includes(x.begin(), x.end(), y.begin(), y.end()) ||
           std::includes(y.begin(), y.end(), x.begin(), x.end());
}

// Higher score first; within a tie the reading that tells more (the unit, the flags), then the
// shorter command line, then the earlier candidate.
bool better(const Judged& a, const Judged& b) {
    if (std::fabs(a.score - b.score) >= kTie) return a.score > b.score;
    if (a.flags != b.flags) return a.flags > b.flags;
    return a.options.size() < b.options.size();
}

} // namespace

std::optional<Parity> parityInBit7(std::string_view bytes) {
    // Enough bytes with bit 7 set that it is not chance, and bit 7 the parity of the other
    // seven, even or odd, in all but the odd byte a noisy line spoils.
    size_t high = 0, even = 0;
    for (unsigned char c : bytes) {
        high += c >> 7;
        int ones = 0;
        for (unsigned b = c; b; b >>= 1)
            ones += b & 1;
        even += ones % 2 == 0;
    }
    if (bytes.size() < 16 || high * 10 < bytes.size()) return std::nullopt;
    const size_t odd = bytes.size() - even, spoilt = bytes.size() / 100;
    if (odd <= spoilt) return Parity::Even;
    if (even <= spoilt) return Parity::Odd;
    return std::nullopt;
}

FormatGuess guessFormat(const LineCapture& capture, const SerialSettings* line) {
    // Enough frames of any format to judge by; a long capture would only cost time.
    constexpr size_t kJudged = 64 * 1024;
    std::string stripped;
    std::string_view bytes = std::string_view(capture.bytes).substr(0, kJudged);
    // 7-bit characters read as 8 bits keep their parity bit: read without it, and say so.
    SerialSettings seven = line ? *line : SerialSettings{};
    const std::optional<Parity> parity = parityInBit7(bytes);
    if (parity) {
        stripped.assign(bytes);
        keepDataBits(stripped, 7);
        bytes = stripped;
        seven.dataBits = 7;
        seven.parity = *parity;
    }
    const auto errors = static_cast<size_t>(
        std::lower_bound(capture.errors.begin(), capture.errors.end(), bytes.size()) -
        capture.errors.begin());
    std::optional<Judged> best, bestControl, runnerUp;
    const formats::Format* control = formats::allFormats().front();
    for (const Settings& settings : settingsCandidates(bytes))
        for (const formats::Format* format : formats::allFormats()) {
            std::optional<Judged> j = judge(*format, settings, bytes);
            if (!j) continue;
            if (format == control && (!bestControl || better(*j, *bestControl))) bestControl = j;
            if (!best || better(*j, *best)) {
                if (best && !sameReadings(best->values, j->values)) runnerUp = best;
                best = j;
            } else if (!sameReadings(j->values, best->values) &&
                       (!runnerUp || better(*j, *runnerUp))) {
                runnerUp = j;
            }
        }

    FormatGuess guess;
    if (!best || best->score <= 0) {
        guess.doubts.push_back(capture.bytes.empty() ? "nothing was received"
                                                     : "no format reads these bytes");
        return guess;
    }
    double confidence = best->score;
    if (runnerUp && best->score - runnerUp->score < kTie) {
        // Two readings of the bytes fit as well as each other: typically a weight that never
        // changed, read in either digit order. Which one is right is a guess.
        confidence = std::min(confidence * 0.6, kGuessAtMost);
        guess.doubts.push_back(
            "the bytes read as well, as other numbers, with " +
            (runnerUp->options.empty() ? std::string("the defaults") : joined(runnerUp->options)) +
            ": capture while the weight changes to tell them apart");
    }
    if (errors > 0) {
        const double share = static_cast<double>(errors) / static_cast<double>(bytes.size());
        confidence *= 1 - share;
        guess.doubts.push_back(std::to_string(errors) + " of " + std::to_string(bytes.size()) +
                               " bytes came with framing or parity errors");
    }
    guess.format = std::string(best->format->name);
    guess.confidence = std::clamp(confidence, 0.0, 1.0);
    guess.options = best->options;
    std::vector<std::string> lineOpts = line ? lineOptions(seven) : std::vector<std::string>{};
    if (parity && !line) {
        lineOpts = {"--data-bits", "7", "--parity", *parity == Parity::Even ? "e" : "o"};
    }
    if (parity)
        guess.notes.push_back("bit 7 of every byte is the parity of the other seven: a 7-bit "
                              "line (7" +
                              std::string(*parity == Parity::Even ? "E" : "O") +
                              "1) read as 8 bits; --data-bits 7 strips it");
    if (!best->format->commands.poll.empty())
        guess.notes.push_back("this indicator answers requests: read with --poll '" +
                              escaped(best->format->commands.poll) + "'");
    guess.options.insert(guess.options.end(), lineOpts.begin(), lineOpts.end());
    if (bestControl && bestControl->score >= 0.5) {
        guess.controlOptions = bestControl->options;
        guess.controlOptions.insert(guess.controlOptions.end(), lineOpts.begin(), lineOpts.end());
        guess.controlConfidence = std::min(bestControl->score, guess.confidence);
    }
    if (!best->hasPoint && (best->format->uses & formats::kUsesDecimals))
        guess.notes.push_back("the frames carry no decimal point: if the indicator shows one, "
                              "add --decimals N (digits after it)");
    return guess;
}

const char* sureness(double confidence) {
    return confidence >= 0.9 ? "certain" : confidence >= kLikely ? "likely" : "a guess";
}

double rounded(double confidence) {
    return std::round(confidence * 100) / 100;
}

namespace {

// A word as a POSIX shell reads it back.
std::string shellWord(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789-_.,/=+:") == std::string::npos)
        return word;
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

std::string commandLine(const std::vector<std::string>& options) {
    std::string out;
    for (const std::string& o : options)
        out += (out.empty() ? "" : " ") + shellWord(o);
    return out;
}

} // namespace tolvak::cli
