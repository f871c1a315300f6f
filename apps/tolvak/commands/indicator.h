#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak indicator: its options bound to its settings, and what runs it.
Run bindIndicator(Options& options);

} // namespace tolvak::cli
