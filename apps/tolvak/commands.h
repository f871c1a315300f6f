#pragma once

#include <iosfwd>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// The commands that have no file of their own yet.
extern const std::vector<OptionDef> kPrintOptions;
int runRead(const ParsedArgs& args, std::ostream& out, std::ostream& err);
int runReplay(const ParsedArgs& args, std::ostream& out, std::ostream& err);
int runIndicator(const ParsedArgs& args, std::ostream& out, std::ostream& err);
int runSimulate(const ParsedArgs& args, std::ostream& out, std::ostream& err);
int runHostInfo(const ParsedArgs& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
