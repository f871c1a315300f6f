#pragma once

#include "tolvak/cli/options.h"
#include "tolvak/output/reading_printer.h"

namespace tolvak::cli {

// --changes, --json, --once: how the commands that print readings print them.
void bindPrintOptions(Options& options, PrintSettings& print);

} // namespace tolvak::cli
