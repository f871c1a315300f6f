#include "tolvak/cli/start_options.h"

#include <cctype>

#include "tolvak/cli/control_options.h"

namespace tolvak::cli {

void bindQuiet(Options& options, bool& quiet) {
    options.flag("--quiet", "no line at start naming the device, line settings and format", quiet);
}

void bindStartOptions(Options& options, StartSettings& start, const ControlOptions& control) {
    bindQuiet(options, start.quiet);
    options.check([&start, &control] {
        if (!control.device && !start.needsDevice) return;
        if (!control.device)
            throw UsageError("--device is needed: tolvak ports lists the serial ports, --device "
                             "auto takes the one USB serial port");
        start.autoDevice = *control.device == "auto";
        const bool autoGiven = control.formatGiven && control.scale.format.format == "auto";
        // Options of a format would be silently overruled by the format picked.
        if (autoGiven && formatOptionGiven(control))
            throw UsageError("--format auto picks the format and its settings: name a format to "
                             "set them");
        start.autoFormat = control.formatGiven ? autoGiven : !formatOptionGiven(control);
        start.autoLine = start.autoFormat && !control.lineGiven;
    });
}

std::string pickDevice(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::string> usb, all;
    for (const SerialPortInfo& port : ports) {
        all.push_back(port.name);
        if (!port.usbId.empty()) usb.push_back(port.name);
    }
    if (usb.size() == 1) return usb.front();
    const auto list = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names)
            text += (text.empty() ? "" : ", ") + name;
        return text.empty() ? std::string("none") : text;
    };
    if (usb.empty())
        throw UsageError("--device auto: no USB serial port (serial ports: " + list(all) +
                         "); give one with --device");
    throw UsageError("--device auto: " + std::to_string(usb.size()) +
                     " USB serial ports: " + list(usb) + "; give one with --device");
}

std::string lineName(const SerialSettings& line) {
    static const char letters[] = "NEOMS";
    return std::to_string(line.baud) + ' ' + std::to_string(line.dataBits) +
           letters[int(line.parity)] + (line.stopBits == StopBits::One ? "1" : "2");
}

SerialSettings serialSettings(const LineSettings& line) {
    SerialSettings settings;
    settings.baud = line.baudRate;
    settings.dataBits = line.dataBits;
    const auto letter = std::string("neoms").find(static_cast<char>(std::tolower(line.parity)));
    settings.parity = static_cast<Parity>(letter == std::string::npos ? 0 : letter);
    settings.stopBits = line.stopBits == 2 ? StopBits::Two : StopBits::One;
    return settings;
}

std::string startLine(const std::string& command, const std::string& device,
                      const ScaleOptions& options, const StartSettings& start) {
    std::string line = "tolvak " + command + ": " + device + ", ";
    if (start.autoLine)
        line += "line settings and format: auto (listening)";
    else
        line += lineName(serialSettings(options.line)) + ", format " +
                (start.autoFormat ? std::string("auto (listening)") : options.format.format);
    return line;
}

} // namespace tolvak::cli
