#include "tolvak/cli/control_options.h"

#include <cmath>
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
    if (option == "--pattern" || option == "--map") return formats::kUsesPattern;
    for (const char* framing : {"--eload-prebits", "--eload-bits", "--newline-sep",
                                "--enterkey-sep", "--other-sep", "--reverse"})
        if (option == framing) return formats::kUsesFraming;
    return 0;
}

const SetterOption* findSetterOption(const std::string& option) {
    for (const auto& s : kSetterOptions)
        if (option == s.option) return &s;
    return nullptr;
}

Variant optionValue(const SetterOption& s, const std::string& value) {
    if (findMethod(s.setter)->argType == ArgType::Short) return parseShort(s.option, value);
    try {
        return lineText(parseEscapes(value));
    } catch (const UsageError& e) {
        throw UsageError(std::string(s.option) + ": " + e.what());
    }
}

} // namespace

const std::vector<OptionDef>& controlOptionDefs() {
    static const std::vector<OptionDef> defs = [] {
        std::vector<OptionDef> out;
        for (const SetterOption& s : kSetterOptions)
            out.push_back({s.option, s.valueName, s.help});
        out.push_back({"--device", "PATH",
                       "the device behind the port number (/dev/ttyUSB0, a pseudo-terminal); "
                       "auto: the one USB serial port (tolvak ports lists them)"});
        out.push_back(
            {"--format", "NAME",
             "the indicator's output: auto (read and serve: listen and pick it, with the line "
             "settings not given; their default unless an option above is given), " +
                 formatNames() + " (control: the options above)"});
        out.push_back({"--pattern", "REGEX",
                       "for --format regex: named groups value, and sign, unit, status, mode, "
                       "tare"});
        out.push_back({"--map", "KEY=VALUES",
                       "for --format regex, repeatable: what a group's capture means, e.g. "
                       "stable=S,ST motion=D,? net=N kg=K (see docs/formats.md)"});
        return out;
    }();
    return defs;
}

std::u16string_view setterOfOption(const std::string& option) {
    const SetterOption* s = findSetterOption(option);
    return s ? s->setter : u"";
}

namespace {

// What no serial line takes is a mistake on the command line, said as one, not the control's
// message box when the port opens.
void checkLineSettings(const ParsedArgs& args, const LineSettings& line) {
    const auto refuse = [](const char* option, const std::string& value, const char* range) {
        throw UsageError(std::string(option) + ": '" + value + "' is not " + range);
    };
    if (args.has("--baud") && line.baudRate == 0) refuse("--baud", "0", "a baud rate");
    if (args.has("--data-bits") && (line.dataBits < 5 || line.dataBits > 8))
        refuse("--data-bits", std::to_string(line.dataBits), "5, 6, 7 or 8");
    if (args.has("--parity") && std::string("neomsNEOMS").find(line.parity) == std::string::npos)
        refuse("--parity", std::string(1, line.parity), "n, e, o, m or s");
    if (args.has("--stop-bits") && line.stopBits != 1 && line.stopBits != 2)
        refuse("--stop-bits", std::to_string(line.stopBits), "1 or 2");
}

} // namespace

void checkControlOptions(const ParsedArgs& args) {
    // The settings of a Scale hold the strictest reading of every option: every command that
    // takes them refuses the same values.
    const ScaleOptions settings = scaleOptions(args);
    checkLineSettings(args, settings.line);
    // An option the format does not read would be silently ignored: refused instead.
    if (const formats::Format* format = formats::findFormat(settings.format.format))
        for (const auto& [option, value] : args.options) {
            const unsigned needs = settingsOfOption(option);
            if (needs == 0 || (format->uses & needs) != 0) continue;
            std::string takers;
            for (const formats::Format* f : formats::allFormats())
                if (f->uses & needs) takers += (takers.empty() ? "" : ", ") + std::string(f->name);
            throw UsageError(option + ": the " + std::string(format->name) +
                             " format does not use it (formats that do: " + takers + ")");
        }
    // auto is settled by listening, after the parse.
    if ((args.has("--format") || args.has("--pattern")) && settings.format.format != "auto") try {
            FormatReader reader(settings.format);
        } catch (const std::invalid_argument& e) {
            throw UsageError(std::string("--format: ") + e.what());
        }
}

bool formatOptionGiven(const ParsedArgs& args) {
    for (const auto& [option, value] : args.options)
        if (settingsOfOption(option) != 0) return true;
    return false;
}

void applyControlOptions(const ParsedArgs& args, Tolvak& control, const BindDevice& bindDevice) {
    for (const auto& [option, value] : args.options) {
        const SetterOption* s = findSetterOption(option);
        if (!s) continue;
        control.invoke(findMethod(s->setter)->dispid, {optionValue(*s, value)});
    }
    if (auto device = args.value("--device"); device && bindDevice)
        bindDevice(control.state().portNum, *device);
}

ScaleOptions scaleOptions(const ParsedArgs& args) {
    ScaleOptions options;
    for (const auto& [option, value] : args.options)
        if (const SetterOption* s = findSetterOption(option))
            s->store(options, optionValue(*s, value));
    if (auto device = args.value("--device")) {
        // An empty name would quietly open the port number's default device instead.
        if (device->empty()) throw UsageError("--device: the name is empty");
        options.line.device = *device;
    }
    if (auto format = args.value("--format")) options.format.format = *format;
    if (auto pattern = args.value("--pattern")) options.format.pattern = *pattern;
    for (const auto& [option, value] : args.options)
        if (option == "--map") options.format.map.push_back(value);
    if (args.has("--pattern") && options.format.format == "control")
        throw UsageError("--pattern needs --format regex");
    return options;
}

} // namespace tolvak::cli
