#include "tolvak/cli/control_options.h"

#include <cmath>
#include <memory>
#include <stdexcept>

#include "api/format_reader.h"
#include "base/automation_error.h"
#include "control/method_table.h"
#include "control/serial_control.h"
#include "text/line_text.h"
#include "text/utf8.h"
#include "tolvak/output/text_format.h"

namespace tolvak::cli {

namespace {

// One option per setter: its name, the setter, its value and help as --help shows them, and
// where a Scale's settings keep it.
struct SetterOption {
    const char* option;
    const char16_t* setter; // its argument type comes from the method table
    const char* valueName;
    const char* help;
    // Stores the value, already checked for the setter, into a Scale's settings.
    void (*store)(ScaleOptions&, const Variant&);
};

int16_t shortOf(const Variant& v) {
    return std::get<int16_t>(v);
}
const std::u16string& textOf(const Variant& v) {
    return std::get<std::u16string>(v);
}

uint32_t baudOf(const Variant& v) {
    return static_cast<uint32_t>(parseWhole("--baud", toUtf8(textOf(v)), 0, 4294967295));
}

char parityOf(const Variant& v) {
    const std::u16string& text = textOf(v);
    if (text.size() != 1 || text[0] > 0x7F)
        throw UsageError("--parity: '" + toUtf8(text) + "' is not one letter");
    return static_cast<char>(text[0]);
}

std::string bytesOf(const Variant& v) {
    std::string bytes;
    for (char16_t c : textOf(v))
        bytes += static_cast<char>(c); // one byte per code unit
    return bytes;
}

// Mirrors the thirteen setters one to one.
constexpr SetterOption kSetterOptions[] = {
    {"--decimals", u"setDecimals", "N",
     "implied decimal places: the frame's number is divided by 10^N",
     [](ScaleOptions& o, const Variant& v) { o.format.decimals = shortOf(v); }},
    {"--eload-prebits", u"setEloadPrebits", "N",
     "added to --eload-bits for the minimum frame length",
     [](ScaleOptions& o, const Variant& v) { o.format.eloadPrebits = shortOf(v); }},
    {"--eload-bits", u"setEloadbits", "N",
     "minimum length of a complete frame (with --eload-prebits)",
     [](ScaleOptions& o, const Variant& v) { o.format.eloadBits = shortOf(v); }},
    {"--buffer-length", u"setBufferLength", "N", "receive buffer size requested from the port",
     [](ScaleOptions& o, const Variant& v) { o.line.bufferLength = shortOf(v); }},
    {"--newline-sep", u"setNewLineSepChar", "FLAG",
     "1: line feed separates frames; any other value: it does not",
     [](ScaleOptions& o, const Variant& v) { o.format.newLineSeparates = shortOf(v) == 1; }},
    {"--enterkey-sep", u"setEnterkeySepChar", "FLAG", "1: carriage return separates frames",
     [](ScaleOptions& o, const Variant& v) { o.format.carriageReturnSeparates = shortOf(v) == 1; }},
    {"--other-sep", u"setOtherSepChar", "TEXT",
     "a further separator, escapes allowed ('\\r\\n'); '' for none",
     [](ScaleOptions& o, const Variant& v) { o.format.otherSeparator = bytesOf(v); }},
    {"--reverse", u"setIsReservChar", "FLAG", "1: frames carry their characters last first",
     [](ScaleOptions& o, const Variant& v) { o.format.reversed = shortOf(v) == 1; }},
    {"--port", u"setPortNum", "N", "serial port number: /dev/ttyS{N-1} unless --device is given",
     [](ScaleOptions& o, const Variant& v) { o.line.port = shortOf(v); }},
    {"--baud", u"setBandRate", "RATE", "baud rate",
     [](ScaleOptions& o, const Variant& v) { o.line.baudRate = baudOf(v); }},
    {"--data-bits", u"setDataBit", "N", "data bits, 5 to 8",
     [](ScaleOptions& o, const Variant& v) { o.line.dataBits = shortOf(v); }},
    {"--parity", u"setParity", "LETTER", "n, e, o, m or s",
     [](ScaleOptions& o, const Variant& v) { o.line.parity = parityOf(v); }},
    {"--stop-bits", u"setStopBit", "N", "stop bits, 1 or 2",
     [](ScaleOptions& o, const Variant& v) { o.line.stopBits = shortOf(v); }},
};

// Which of a format's settings an option stands for; 0 for the line's and the tool's own.
unsigned settingsOfOption(const std::string& option) {
    if (option == "--decimals") return formats::kUsesDecimals;
    for (const char* framing : {"--eload-prebits", "--eload-bits", "--newline-sep",
                                "--enterkey-sep", "--other-sep", "--reverse"})
        if (option == framing) return formats::kUsesFraming;
    return 0;
}

Variant optionValue(const SetterOption& s, const std::string& value) {
    if (findMethod(s.setter)->argType == ArgType::Short) return parseShort(s.option, value);
    try {
        return lineText(parseEscapes(value));
    } catch (const UsageError& e) {
        throw UsageError(std::string(s.option) + ": " + e.what());
    }
}

// What no serial line takes is a mistake on the command line, said as one, not the control's
// message box when the port opens. The control's defaults pass.
void checkLineSettings(const LineSettings& line) {
    const auto refuse = [](const char* option, const std::string& value, const char* range) {
        throw UsageError(std::string(option) + ": '" + value + "' is not " + range);
    };
    if (line.baudRate == 0) refuse("--baud", "0", "a baud rate");
    if (line.dataBits < 5 || line.dataBits > 8)
        refuse("--data-bits", std::to_string(line.dataBits), "5, 6, 7 or 8");
    if (std::string("neomsNEOMS").find(line.parity) == std::string::npos)
        refuse("--parity", std::string(1, line.parity), "n, e, o, m or s");
    if (line.stopBits != 1 && line.stopBits != 2)
        refuse("--stop-bits", std::to_string(line.stopBits), "1 or 2");
}

void checkControlOptions(const ControlOptions& settings, bool patternGiven) {
    const ScaleOptions& scale = settings.scale;
    checkLineSettings(scale.line);
    if (patternGiven && scale.format.format == "control")
        throw UsageError("--pattern needs --format regex");
    // An option the format does not read would be silently ignored: refused instead.
    if (const formats::Format* format = formats::findFormat(scale.format.format))
        for (const auto& [option, needs] : settings.formatSettings) {
            if ((format->uses & needs) != 0) continue;
            std::string takers;
            for (const formats::Format* f : formats::allFormats())
                if (f->uses & needs) takers += (takers.empty() ? "" : ", ") + std::string(f->name);
            throw UsageError(option + ": the " + std::string(format->name) +
                             " format does not use it (formats that do: " + takers + ")");
        }
    // The control's own format takes what its setters take (its receive handler reports the
    // rest); the decoders are checked here, and auto is settled by listening, after the parse.
    if ((settings.formatGiven || patternGiven) && scale.format.format != "auto") try {
            FormatReader reader(scale.format);
        } catch (const std::invalid_argument& e) {
            throw UsageError(std::string("--format: ") + e.what());
        }
}

} // namespace

void bindControlOptions(Options& options, ControlOptions& settings) {
    for (const SetterOption& s : kSetterOptions)
        options.value(s.option, s.valueName, s.help, [&settings, &s](const std::string& text) {
            Variant value = optionValue(s, text);
            s.store(settings.scale, value);
            for (std::u16string_view line :
                 {u"setBandRate", u"setDataBit", u"setParity", u"setStopBit"})
                if (line == s.setter) settings.lineGiven = true;
            settings.setters.push_back({s.setter, std::move(value), s.option, text});
            if (unsigned needs = settingsOfOption(s.option))
                settings.formatSettings.emplace_back(s.option, needs);
        });
    options.value("--device", "PATH",
                  "the device behind the port number (/dev/ttyUSB0, a pseudo-terminal); auto: the "
                  "one USB serial port (tolvak ports lists them)",
                  [&settings](const std::string& device) {
                      // An empty name would quietly open the port number's default device.
                      if (device.empty()) throw UsageError("--device: the name is empty");
                      settings.device = device;
                      settings.scale.line.device = device;
                  });
    options.value("--format", "NAME",
                  "the indicator's output: auto (read and serve: listen and pick it, with the "
                  "line settings not given; their default unless an option above is given), " +
                      formatNames() + " (control: the options above)",
                  [&settings](const std::string& name) {
                      settings.scale.format.format = name;
                      settings.formatGiven = true;
                  });
    auto pattern = std::make_shared<bool>(false);
    options.value("--pattern", "REGEX",
                  "for --format regex: named groups value, and sign, unit, status, mode, tare",
                  [&settings, pattern](const std::string& text) {
                      settings.scale.format.pattern = text;
                      settings.formatSettings.emplace_back("--pattern", formats::kUsesPattern);
                      *pattern = true;
                  });
    options.value("--map", "KEY=VALUES",
                  "for --format regex, repeatable: what a group's capture means, e.g. "
                  "stable=S,ST motion=D,? net=N kg=K (see docs/formats.md)",
                  [&settings](const std::string& text) {
                      settings.scale.format.map.push_back(text);
                      settings.formatSettings.emplace_back("--map", formats::kUsesPattern);
                  });
    options.check([&settings, pattern] { checkControlOptions(settings, *pattern); });
}

ControlOptions controlOptionsOf(const std::vector<std::string>& words) {
    ControlOptions settings;
    Options options;
    bindControlOptions(options, settings);
    options.parse(words);
    return settings;
}

void applyControlOptions(const ControlOptions& settings, Tolvak& control,
                         const BindDevice& bindDevice) {
    for (const auto& call : settings.setters)
        control.invoke(findMethod(call.setter)->dispid, {call.value});
    if (settings.device && bindDevice) bindDevice(control.state().portNum, *settings.device);
}

} // namespace tolvak::cli
