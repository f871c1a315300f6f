#pragma once

#include <vector>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// The commands only this system has (one file a system, picked by the build).
const std::vector<Command>& platformCommands();

} // namespace tolvak::cli
