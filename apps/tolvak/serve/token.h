#pragma once

#include <iosfwd>
#include <string>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// The token that requests for commands must bear (serve --token-file): 32 random bytes in hex.
std::string newToken();
// The token in the file: its first line, blanks around it dropped. Throws std::runtime_error
// when the file cannot be read or holds none.
std::string readToken(const std::string& path);

// tolvak token FILE: writes a new token, readable by its owner alone (or as the file it
// replaces was), so that a running server takes it at its next command.
int runToken(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
