#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak host-info: its options bound to its settings, and what runs it.
Run bindHostInfo(Options& options);

} // namespace tolvak::cli
