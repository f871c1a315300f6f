#include "tolvak/detect/detect_command.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <system_error>
#include <variant>

#include <nlohmann/json.hpp>

#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/detect/detect.h"
#include "tolvak/output/text_format.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

namespace {

// A string as a C++ literal, and as a Visual Basic expression.
std::string cppLiteral(const std::string& bytes) {
    return jsonString(std::u16string(bytes.begin(), bytes.end()));
}

std::string vbExpression(const std::string& bytes) {
    std::string out, run;
    auto flush = [&] {
        if (run.empty()) return;
        out += (out.empty() ? "\"" : " & \"") + run + '"';
        run.clear();
    };
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            run += c == '"' ? std::string("\"\"") : std::string(1, static_cast<char>(c));
            continue;
        }
        flush();
        out += (out.empty() ? "Chr(" : " & Chr(") + std::to_string(c) + ")";
    }
    flush();
    return out.empty() ? "\"\"" : out;
}

// The library's settings that the options stand for, as code.
void printLibrary(std::ostream& out, const ControlOptions& options) {
    const ScaleOptions& o = options.scale;
    const ScaleOptions d;
    out << "  tolvak::LineSettings line;\n";
    if (o.line.baudRate != d.line.baudRate) out << "  line.baudRate = " << o.line.baudRate << ";\n";
    if (o.line.dataBits != d.line.dataBits) out << "  line.dataBits = " << o.line.dataBits << ";\n";
    if (o.line.parity != d.line.parity) out << "  line.parity = '" << o.line.parity << "';\n";
    if (o.line.stopBits != d.line.stopBits) out << "  line.stopBits = " << o.line.stopBits << ";\n";
    out << "  tolvak::FrameFormat format;\n";
    const tolvak::FrameFormat& f = o.format;
    const tolvak::FrameFormat& g = d.format;
    if (f.format != g.format) out << "  format.format = " << cppLiteral(f.format) << ";\n";
    if (f.decimals != g.decimals) out << "  format.decimals = " << f.decimals << ";\n";
    if (f.eloadPrebits != g.eloadPrebits)
        out << "  format.eloadPrebits = " << f.eloadPrebits << ";\n";
    if (f.eloadBits != g.eloadBits) out << "  format.eloadBits = " << f.eloadBits << ";\n";
    if (f.newLineSeparates != g.newLineSeparates)
        out << "  format.newLineSeparates = " << std::boolalpha << f.newLineSeparates << ";\n";
    if (f.carriageReturnSeparates != g.carriageReturnSeparates)
        out << "  format.carriageReturnSeparates = " << std::boolalpha << f.carriageReturnSeparates
            << ";\n";
    if (f.otherSeparator != g.otherSeparator)
        out << "  format.otherSeparator = " << cppLiteral(f.otherSeparator) << ";\n";
    if (f.reversed != g.reversed)
        out << "  format.reversed = " << std::boolalpha << f.reversed << ";\n";
}

// The control's setter calls for its options, in Visual Basic.
void printSetters(std::ostream& out, const ControlOptions& options) {
    for (const auto& call : options.setters) {
        const std::u16string_view setter = call.setter;
        std::string value;
        if (const auto* text = std::get_if<std::u16string>(&call.value))
            value = vbExpression(std::string(text->begin(), text->end())); // a byte a unit
        else
            value = std::to_string(std::get<int16_t>(call.value));
        out << "  Tolvak1." << std::string(setter.begin(), setter.end()) << ' ' << value << '\n';
    }
}

std::string nothingFits(const FormatGuess& guess) {
    if (guess.format.empty())
        return guess.doubts.empty() ? "no format reads these bytes" : guess.doubts.front();
    return "no format reads these bytes well (the best, " + guess.format + ", hardly)";
}

int report(const FormatGuess& guess, const SerialSettings* line, bool json, std::ostream& out) {
    const bool fits = !guess.format.empty() && guess.confidence >= kFits;
    const int status = fits && rounded(guess.confidence) >= kLikely ? kExitOk : kExitNoReading;
    if (json) {
        nlohmann::ordered_json object;
        object["format"] = fits ? nlohmann::ordered_json(guess.format) : nullptr;
        object["options"] = fits ? guess.options : std::vector<std::string>{};
        object["confidence"] = rounded(fits ? guess.confidence : 0);
        object["label"] = fits ? sureness(rounded(guess.confidence)) : "nothing fits";
        std::vector<std::string> doubts = guess.doubts;
        if (fits)
            doubts.insert(doubts.end(), guess.notes.begin(), guess.notes.end());
        else
            doubts = {nothingFits(guess)};
        object["doubts"] = doubts;
        out << jsonText(object) << '\n' << std::flush;
        return status;
    }
    if (line) out << "line:       " << lineName(*line) << '\n';
    if (!fits) {
        out << "Nothing fits: " << nothingFits(guess) << ".\n" << std::flush;
        return kExitNoReading;
    }
    out << "format:     " << guess.format << " (confidence " << rounded(guess.confidence) << ", "
        << sureness(rounded(guess.confidence)) << ")\n"
        << "tolvak read "
        << (guess.options.empty() ? "(no options: the defaults)" : commandLine(guess.options))
        << "\n\nThe library:\n";
    printLibrary(out, controlOptionsOf(guess.options));
    if (guess.controlConfidence > 0) {
        out << "\nTolvak.ocx reads it too (confidence " << rounded(guess.controlConfidence)
            << "), after its defaults:\n";
        printSetters(out, controlOptionsOf(guess.controlOptions));
        if (guess.controlOptions.empty()) out << "  (nothing to set)\n";
    } else {
        out << "\nTolvak.ocx: the control's own format does not read these frames.\n";
    }
    for (const std::string& d : guess.doubts)
        out << "doubt: " << d << '\n';
    for (const std::string& n : guess.notes)
        out << "note: " << n << '\n';
    out << std::flush;
    return status;
}

} // namespace

const char* const kDetectNotes =
    "Every decoder is tried with the settings the bytes suggest and judged by how many bytes\n"
    "fall in good frames and how smoothly the readings move. On a live port the rates 1200 to\n"
    "115200 are tried at 8N1, then the framings 7E1, 7O1, 8E1, 8O1, 7N2 at the best rate.\n"
    "Prints the options for tolvak read and replay, the library's settings and, when the\n"
    "control's own format fits, the Tolvak.ocx setter calls. --json prints\n"
    "{\"format\":NAME,\"options\":[...],\"confidence\":0.97,\"label\":\"certain\",\n"
    "\"doubts\":[...]}; format null when nothing fits. Confidence 0.9 and up is \"certain\",\n"
    "0.6 \"likely\", below that \"a guess\" (never more where the bytes read as well with\n"
    "other settings).\n"
    "Bytes whose bit 7 is the parity of the other seven are read as a 7-bit line.\n"
    "Exit status: 0 found (likely or certain), 1 the file could not be read or the device\n"
    "went away, 2 the port could not be opened, 3 nothing fits or only a guess, 64 bad usage.\n";

namespace {

struct DetectSettings {
    std::optional<std::string> file;
    std::optional<std::string> device;
    double listen = 1;
    bool json = false;
};

int runDetect(const DetectSettings& settings, std::ostream& out, std::ostream& err) {
    const auto& file = settings.file;
    const auto& device = settings.device;
    const double listen = settings.listen;

    if (file) {
        std::string bytes;
        if (*file == "-") {
            bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
        } else {
            std::ifstream in(*file, std::ios::binary);
            if (!in) {
                err << "tolvak detect: " << *file << ": " << std::strerror(errno) << '\n';
                return kExitFailure;
            }
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        return report(guessFormat(LineCapture{bytes, {}}), nullptr, settings.json, out);
    }

    LineListener listener;
    try {
        listener = openLineListener(*device,
                                    std::chrono::milliseconds(static_cast<int64_t>(listen * 1000)));
    } catch (const std::system_error& e) {
        err << "tolvak detect: " << e.what() << '\n';
        return kExitOpenFailed;
    }
    const LineGuess guess = searchLine([&](const SerialSettings& line) {
        LineCapture capture = listener(line);
        err << "tolvak detect: " << lineName(line) << ": " << capture.bytes.size() << " bytes, "
            << capture.errors.size() << " with errors\n";
        return capture;
    });
    return report(guess.format, &guess.line, settings.json, out);
}

} // namespace

Run bindDetect(Options& options) {
    auto settings = std::make_shared<DetectSettings>();
    options.text("--file", "PATH", "a captured byte stream (- for standard input)", settings->file);
    options.text("--device", "PATH", "a live port: every common baud rate and framing is tried",
                 settings->device);
    options.value("--listen", "S", "seconds to listen at each setting of a live port (default 1)",
                  [s = settings.get()](const std::string& v) {
                      s->listen = parseNumber("--listen", v, 0.05, 3600);
                  });
    options.flag("--json", "one JSON object: format, options, confidence, label, doubts",
                 settings->json);
    options.check([s = settings.get()] {
        if (s->file.has_value() == s->device.has_value())
            throw UsageError("give --file or --device");
    });
    return
        [settings](std::ostream& out, std::ostream& err) { return runDetect(*settings, out, err); };
}

} // namespace tolvak::cli
