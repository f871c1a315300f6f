#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak ports: the options, and the command itself.
Run bindPorts(Options& options);

} // namespace tolvak::cli
