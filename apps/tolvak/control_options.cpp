#include "tolvak/control_options.h"

#include "acquisition/serial_control.h"
#include "control/method_table.h"
#include "tolvak/text_format.h"

namespace tolvak::cli {

namespace {

struct SetterOption {
    const char* option;
    const char16_t* setter; // its argument type comes from the method table
};

// Mirrors the thirteen setters one to one.
constexpr SetterOption kSetterOptions[] = {
    {"--decimals", u"setDecimals"},
    {"--eload-prebits", u"setEloadPrebits"},
    {"--eload-bits", u"setEloadbits"},
    {"--buffer-length", u"setBufferLength"},
    {"--newline-sep", u"setNewLineSepChar"},
    {"--enterkey-sep", u"setEnterkeySepChar"},
    {"--other-sep", u"setOtherSepChar"},
    {"--reverse", u"setIsReservChar"},
    {"--port", u"setPortNum"},
    {"--baud", u"setBandRate"},
    {"--data-bits", u"setDataBit"},
    {"--parity", u"setParity"},
    {"--stop-bits", u"setStopBit"},
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

} // namespace tolvak::cli
