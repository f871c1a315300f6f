#pragma once

#include <iosfwd>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak token FILE: writes a new token, readable by its owner alone (or as the file it
// replaces was), so that a running server takes it at its next command.
Run bindToken(Options& options);

} // namespace tolvak::cli
