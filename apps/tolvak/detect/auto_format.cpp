#include "tolvak/detect/auto_format.h"

#include <chrono>
#include <ostream>
#include <sstream>

#include "tolvak/cli/control_options.h"
#include "tolvak/detect/detect.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

namespace {

// How long each setting is listened to, as detect does by default.
constexpr std::chrono::seconds kListen{1};

struct Stopped {};

bool fits(const FormatGuess& guess) {
    return !guess.format.empty() && guess.confidence >= kFits;
}

} // namespace

Settle autoSettle(const std::string& command, const std::string& device,
                  const StartSettings& start) {
    return
        [command, device, start](const ScaleOptions& given, const std::function<bool()>& stopped) {
            Settled settled;
            LineListener listen = openLineListener(device, kListen);
            // The line given (or the control's default) first: an indicator sending today's default
            // frame is read after one listen.
            const SerialSettings first = serialSettings(given.line);
            const LineCapture capture = listen(first);
            settled.bytesCame = !capture.bytes.empty();
            if (!settled.bytesCame || stopped()) return settled;
            SerialSettings line = first;
            FormatGuess guess = guessFormat(capture, &first);
            if (start.autoLine && !(fits(guess) && guess.confidence >= kLikely)) try {
                    const LineGuess found = searchLine([&](const SerialSettings& s) {
                        if (stopped()) throw Stopped{};
                        return s == first ? capture : listen(s);
                    });
                    line = found.line;
                    guess = found.format;
                } catch (const Stopped&) {
                    return settled;
                }
            if (!fits(guess)) return settled;
            const ScaleOptions picked = controlOptionsOf(guess.options).scale;
            settled.options = given;
            settled.options->format = picked.format;
            if (start.autoLine) {
                settled.options->line.baudRate = picked.line.baudRate;
                settled.options->line.dataBits = picked.line.dataBits;
                settled.options->line.parity = picked.line.parity;
                settled.options->line.stopBits = picked.line.stopBits;
            }
            // In detect's words, and the options that skip the listening next time.
            std::ostringstream said;
            said << "tolvak " << command << ": " << device << ": " << lineName(line) << ", format "
                 << guess.format << " (confidence " << rounded(guess.confidence) << ", "
                 << sureness(rounded(guess.confidence))
                 << "); to skip listening: " << commandLine(guess.options);
            settled.said = said.str();
            return settled;
        };
}

FeedStart feedStart(const std::string& command, const ControlOptions& control,
                    const StartSettings& start, std::ostream& err) {
    FeedStart feed{control.scale, start, nullptr};
    if (feed.start.autoDevice) {
        feed.scale.line.device = pickDevice(listSerialPorts());
        err << "tolvak " << command << ": --device auto: " << feed.scale.line.device
            << ", the one USB serial port\n";
    }
    if (!feed.start.quiet)
        err << startLine(command, feed.scale.line.device, feed.scale, feed.start) << '\n';
    err.flush();
    if (feed.start.autoFormat)
        feed.settle = autoSettle(command, feed.scale.line.device, feed.start);
    return feed;
}

} // namespace tolvak::cli
