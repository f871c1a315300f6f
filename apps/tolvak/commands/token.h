#pragma once

#include <iosfwd>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak token FILE: writes a new token, readable by its owner alone (or as the file it
// replaces was), so that a running server takes it at its next command.
int runToken(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
