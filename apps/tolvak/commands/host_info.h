#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak host-info: its options, and the command.
std::vector<OptionDef> hostInfoOptionDefs();
int runHostInfo(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
