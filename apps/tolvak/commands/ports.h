#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak ports: the options, and the command itself.
std::vector<OptionDef> portsOptionDefs();
int runPorts(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
