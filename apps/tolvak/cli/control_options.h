#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/tolvak.h"
#include "tolvak/cli/cli_args.h"
#include "tolvak/feed/feed_settings.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// The options that configure the control: one per set... method, plus --device.
const std::vector<OptionDef>& controlOptionDefs();

// The setter an option stands for ("--reverse" → setIsReservChar); empty for other options.
std::u16string_view setterOfOption(const std::string& option);

// Checks every control option's value, throwing UsageError for the first bad one. Run before
// anything is created, so that bad input never half-configures a control.
void checkControlOptions(const ParsedArgs& args);

// Whether an option that belongs to a format (its framing, decimals, pattern) is given.
bool formatOptionGiven(const ParsedArgs& args);

// Calls the control's own setters for the options given, in command-line order; the control's
// defaults stand for everything else. Binds --device to the port number the control then has.
using BindDevice = std::function<void(int16_t port, const std::string& device)>;
void applyControlOptions(const ParsedArgs& args, Tolvak& control, const BindDevice& bindDevice);

// The control options as the settings of a public Scale, the others at the control's defaults.
// Throws UsageError for a value the settings cannot hold (a baud rate that is not a whole
// number, a parity that is not one letter).
ScaleOptions scaleOptions(const ParsedArgs& args);

} // namespace tolvak::cli
