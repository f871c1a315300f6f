#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak serve: the options, and the command itself.
std::vector<OptionDef> serveOptionDefs();
// Reads serve's options as runServe does, without serving: UsageError for a bad one.
void checkServeOptions(const ParsedArgs& args);
int runServe(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
