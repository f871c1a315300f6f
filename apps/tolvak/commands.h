#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tolvak::cli {

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;    // a device went away, a file could not be read
constexpr int kExitOpenFailed = 2; // OpenComm showed its message box
constexpr int kExitNoReading = 3;  // --timeout ran out
constexpr int kExitUsage = 64;     // bad command line

// The whole tool: args without the program name.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tolvak::cli
