#pragma once

#include <vector>

#include "control/tolvak.h"
#include "platform/posix/serial_control_posix.h"
#include "tolvak/cli_args.h"

namespace tolvak::cli {

// The options that configure the control: one per set... method, plus --device.
const std::vector<OptionDef>& controlOptionDefs();

// Checks every control option's value, throwing UsageError for the first bad one. Run before
// anything is created, so that bad input never half-configures a control.
void checkControlOptions(const ParsedArgs& args);

// Calls the control's own setters for the options given, in command-line order; the control's
// defaults stand for everything else. Binds --device to the port number the control then has.
void applyControlOptions(const ParsedArgs& args, Tolvak& control,
                         posix::PosixSerialControl* serial);

} // namespace tolvak::cli
