#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tolvak::cli {

// The whole tool: args without the program name.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
