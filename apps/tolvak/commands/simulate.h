#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak simulate: its options bound to its settings, and what runs it.
Run bindSimulate(Options& options);

} // namespace tolvak::cli
