#pragma once

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak read: its options bound to its settings, and what runs it.
Run bindRead(Options& options);

} // namespace tolvak::cli
