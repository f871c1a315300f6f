#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// tolvak detect: its options, notes for --help, and the command.
const std::vector<OptionDef>& detectOptionDefs();
extern const char* const kDetectNotes;
int runDetect(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
