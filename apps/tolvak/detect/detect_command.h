#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/command.h"

namespace tolvak::cli {

// tolvak detect: notes for --help, its options bound to its settings, and what runs it.
extern const char* const kDetectNotes;
Run bindDetect(Options& options);

} // namespace tolvak::cli
