#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak service: the options (its own and serve's), and the command itself.
std::vector<OptionDef> serviceOptionDefs();
int runServiceCommand(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
