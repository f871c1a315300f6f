// Finding a live port's line settings: every common rate, then every common framing.
#include "tolvak/detect/detect.h"

#include <algorithm>
#include <optional>
#include <string>

#include "text/line_text.h"

namespace tolvak::cli {

const std::vector<uint32_t>& commonRates() {
    static const std::vector<uint32_t> rates = {9600,  2400,  4800,  1200,
                                                19200, 38400, 57600, 115200};
    return rates;
}

const std::vector<SerialSettings>& commonFramings() {
    static const std::vector<SerialSettings> framings = {
        {0, Parity::None, 8, StopBits::One}, {0, Parity::Even, 7, StopBits::One},
        {0, Parity::Odd, 7, StopBits::One},  {0, Parity::Even, 8, StopBits::One},
        {0, Parity::Odd, 8, StopBits::One},  {0, Parity::None, 7, StopBits::Two},
    };
    return framings;
}

LineGuess searchLine(const std::function<LineCapture(const SerialSettings&)>& listen) {
    struct Heard {
        SerialSettings line;
        LineCapture capture;
        double score;
    };
    LineGuess result;
    auto hear = [&](const SerialSettings& line) {
        Heard h{line, listen(line), 0};
        h.score = guessFormat(h.capture).confidence;
        result.tried.emplace_back(line, h.score);
        return h;
    };
    // The rate first, at 8N1: a wrong rate gives garbage whatever the framing. A 7-bit
    // character with its parity bit reads as 8 bits at the right rate, so that counts too.
    std::optional<Heard> best;
    double bestRateScore = 0;
    for (uint32_t rate : commonRates()) {
        SerialSettings line = commonFramings().front();
        line.baud = rate;
        Heard h = hear(line);
        LineCapture seven = h.capture;
        keepDataBits(seven.bytes, 7);
        const double rateScore = std::max(h.score, guessFormat(seven).confidence);
        if (!best || rateScore > bestRateScore + kTie) {
            bestRateScore = rateScore;
            best = std::move(h);
        }
    }
    // Then the framing, unless 8N1 came clean.
    if (bestRateScore > 0 &&
        (!best->capture.errors.empty() || best->score + kTie < bestRateScore)) {
        const uint32_t rate = best->line.baud;
        for (size_t i = 1; i < commonFramings().size(); ++i) {
            SerialSettings line = commonFramings()[i];
            line.baud = rate;
            if (Heard h = hear(line); h.score > best->score + kTie) best = std::move(h);
        }
    }
    result.line = best->line;
    // 7-bit characters with their parity bit read as 8 bits at the same length of frame: the
    // bytes tell the framing.
    if (auto parity = parityInBit7(best->capture.bytes);
        parity && result.line.dataBits == 8 && result.line.parity == Parity::None) {
        result.line.dataBits = 7;
        result.line.parity = *parity;
    }
    result.format = guessFormat(best->capture, &result.line);
    return result;
}

} // namespace tolvak::cli
