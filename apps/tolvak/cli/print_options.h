#pragma once

#include <vector>

#include "tolvak/cli/cli_args.h"
#include "tolvak/output/reading_printer.h"

namespace tolvak::cli {

// --changes, --json, --once: how the commands that print readings print them.
extern const std::vector<OptionDef> kPrintOptions;
PrintSettings printSettings(const ParsedArgs& args);

} // namespace tolvak::cli
