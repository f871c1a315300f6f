#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak service: the options (its own and serve's), and the command itself.
Run bindService(Options& options);

} // namespace tolvak::cli
