#include "tolvak/control_options.h"

#include <cmath>

#include "base/automation_error.h"
#include "control/method_table.h"
#include "control/serial_control.h"
#include "text/line_text.h"
#include "text/number_text.h"
#include "text/utf8.h"
#include "tolvak/text_format.h"

namespace tolvak::cli {

namespace {

struct SetterOption {
    const char* option;
    const char16_t* setter; // its argument type comes from the method table
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
    const std::u16string& text = textOf(v);
    double rate = 0;
    if (auto error = trapErrors([&] { rate = numberFromText(text); });
        error || rate < 0 || rate > 4294967295.0 || rate != std::floor(rate))
        throw UsageError("--baud: '" + toUtf8(text) + "' is not a whole number of baud");
    return static_cast<uint32_t>(rate);
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
    {"--decimals", u"setDecimals",
     [](ScaleOptions& o, const Variant& v) { o.format.decimals = shortOf(v); }},
    {"--eload-prebits", u"setEloadPrebits",
     [](ScaleOptions& o, const Variant& v) { o.format.eloadPrebits = shortOf(v); }},
    {"--eload-bits", u"setEloadbits",
     [](ScaleOptions& o, const Variant& v) { o.format.eloadBits = shortOf(v); }},
    {"--buffer-length", u"setBufferLength",
     [](ScaleOptions& o, const Variant& v) { o.line.bufferLength = shortOf(v); }},
    {"--newline-sep", u"setNewLineSepChar",
     [](ScaleOptions& o, const Variant& v) { o.format.newLineSeparates = shortOf(v) == 1; }},
    {"--enterkey-sep", u"setEnterkeySepChar",
     [](ScaleOptions& o, const Variant& v) { o.format.carriageReturnSeparates = shortOf(v) == 1; }},
    {"--other-sep", u"setOtherSepChar",
     [](ScaleOptions& o, const Variant& v) { o.format.otherSeparator = bytesOf(v); }},
    {"--reverse", u"setIsReservChar",
     [](ScaleOptions& o, const Variant& v) { o.format.reversed = shortOf(v) == 1; }},
    {"--port", u"setPortNum", [](ScaleOptions& o, const Variant& v) { o.line.port = shortOf(v); }},
    {"--baud", u"setBandRate",
     [](ScaleOptions& o, const Variant& v) { o.line.baudRate = baudOf(v); }},
    {"--data-bits", u"setDataBit",
     [](ScaleOptions& o, const Variant& v) { o.line.dataBits = shortOf(v); }},
    {"--parity", u"setParity",
     [](ScaleOptions& o, const Variant& v) { o.line.parity = parityOf(v); }},
    {"--stop-bits", u"setStopBit",
     [](ScaleOptions& o, const Variant& v) { o.line.stopBits = shortOf(v); }},
};

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
    static const std::vector<OptionDef> defs = {
        {"--decimals", "N", "implied decimal places: the frame's number is divided by 10^N"},
        {"--eload-prebits", "N", "added to --eload-bits for the minimum frame length"},
        {"--eload-bits", "N", "minimum length of a complete frame (with --eload-prebits)"},
        {"--buffer-length", "N", "receive buffer size requested from the port"},
        {"--newline-sep", "FLAG", "1: line feed separates frames; any other value: it does not"},
        {"--enterkey-sep", "FLAG", "1: carriage return separates frames"},
        {"--other-sep", "TEXT", "a further separator, escapes allowed ('\\r\\n'); '' for none"},
        {"--reverse", "FLAG", "1: frames carry their characters last first"},
        {"--port", "N", "serial port number: /dev/ttyS{N-1} unless --device is given"},
        {"--baud", "RATE", "baud rate"},
        {"--data-bits", "N", "data bits, 5 to 8"},
        {"--parity", "LETTER", "n, e, o, m or s"},
        {"--stop-bits", "N", "stop bits, 1 or 2"},
        {"--device", "PATH", "the device behind the port number (/dev/ttyUSB0, a pseudo-terminal)"},
    };
    return defs;
}

void checkControlOptions(const ParsedArgs& args) {
    for (const auto& [option, value] : args.options)
        if (const SetterOption* s = findSetterOption(option)) optionValue(*s, value);
}

void applyControlOptions(const ParsedArgs& args, Tolvak& control,
                         posix::PosixSerialControl* serial) {
    for (const auto& [option, value] : args.options) {
        const SetterOption* s = findSetterOption(option);
        if (!s) continue;
        control.invoke(findMethod(s->setter)->dispid, {optionValue(*s, value)});
    }
    if (auto device = args.value("--device"); device && serial)
        serial->bindDevice(control.state().portNum, *device);
}

ScaleOptions scaleOptions(const ParsedArgs& args) {
    ScaleOptions options;
    for (const auto& [option, value] : args.options)
        if (const SetterOption* s = findSetterOption(option))
            s->store(options, optionValue(*s, value));
    if (auto device = args.value("--device")) options.line.device = *device;
    return options;
}

} // namespace tolvak::cli
