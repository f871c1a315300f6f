#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli_args.h"

namespace tolvak::cli {

// tolvak serve: the options, and the command itself.
std::vector<OptionDef> serveOptionDefs();
int runServe(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
