#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control/tolvak.h"
#include "control/variant.h"
#include "tolvak/cli/options.h"
#include "tolvak/feed/feed_settings.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// What the options that configure the control come to: the setter calls in command-line order
// (each value checked for its setter), the same values as a Scale's settings, and --device.
struct ControlOptions {
    struct SetterCall {
        const char16_t* setter;
        Variant value;
        std::string option; // "--baud"
        std::string text;   // the value as given
    };
    std::vector<SetterCall> setters;
    ScaleOptions scale;
    std::optional<std::string> device;
    bool formatGiven = false;
    bool lineGiven = false; // --baud, --data-bits, --parity or --stop-bits
    // The format settings given (their option and which kind), for the check that the format
    // reads them.
    std::vector<std::pair<std::string, unsigned>> formatSettings;
};

// Whether an option that belongs to a format (its framing, decimals, pattern) is given.
inline bool formatOptionGiven(const ControlOptions& settings) {
    return !settings.formatSettings.empty();
}

// Binds the setter options, --device, --format, --pattern and --map. Every value is checked as
// it is read and the whole after the parse, so that bad input never half-configures a control.
void bindControlOptions(Options& options, ControlOptions& settings);

// The control options of a list of words ("--baud", "9600", ...), as the command line reads them.
ControlOptions controlOptionsOf(const std::vector<std::string>& words);

// Calls the control's own setters for the options given, in command-line order; the control's
// defaults stand for everything else. Binds --device to the port number the control then has.
using BindDevice = std::function<void(int16_t port, const std::string& device)>;
void applyControlOptions(const ControlOptions& settings, Tolvak& control,
                         const BindDevice& bindDevice);

} // namespace tolvak::cli
