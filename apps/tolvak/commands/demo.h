#pragma once

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// The simulated indicator read through a pseudo-terminal, shown as big red digits.
Command demoCommand();

} // namespace tolvak::cli
