#pragma once

// What the tool finds out for itself (--device auto, --format auto) and what it says at start.

#include <string>
#include <vector>

#include "acquisition/line_settings.h"
#include "base/serial_ports.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/options.h"
#include "tolvak/feed/feed_settings.h"

namespace tolvak::cli {

struct StartSettings {
    bool quiet = false;      // no start line
    bool autoDevice = false; // --device auto: the one USB serial port
    // The format is left to the tool: --format auto, or no --format and no option of a format.
    bool autoFormat = false;
    // With it the line settings, when none of them is given.
    bool autoLine = false;
    // Off for a service action that starts no serve (status, stop...): nothing to read then.
    bool needsDevice = true;
};

// --quiet alone (indicator).
void bindQuiet(Options& options, bool& quiet);
// --quiet, and what the control options leave to the tool (read, serve). A usage error when no
// --device is given: reading a port nobody named reads nothing.
void bindStartOptions(Options& options, StartSettings& start, const ControlOptions& control);

// The device --device auto stands for: the one USB serial port of ports. Throws UsageError when
// there is none or more than one, listing them.
std::string pickDevice(const std::vector<SerialPortInfo>& ports);

// "9600 8N1"
std::string lineName(const SerialSettings& line);
SerialSettings serialSettings(const LineSettings& line);

// The line said at start: "tolvak read: /dev/ttyUSB0, 9600 8N1, format control".
std::string startLine(const std::string& command, const std::string& device,
                      const ScaleOptions& options, const StartSettings& start);

} // namespace tolvak::cli
