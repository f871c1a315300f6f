#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak indicator: its options, and the command.
std::vector<OptionDef> indicatorOptionDefs();
int runIndicator(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
