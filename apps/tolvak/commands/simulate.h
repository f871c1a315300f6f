#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak simulate: its options, and the command.
std::vector<OptionDef> simulateOptionDefs();
int runSimulate(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
