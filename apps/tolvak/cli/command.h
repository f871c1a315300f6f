#pragma once

// The contract between the tool and its commands: every command includes this, and it includes
// no command.

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;    // a device went away, a file could not be read
constexpr int kExitOpenFailed = 2; // OpenComm showed its message box
constexpr int kExitNoReading = 3;  // --timeout ran out
constexpr int kExitUsage = 64;     // bad command line

// One subcommand: its name, its help and its option table, and what runs it.
struct Command {
    const char* name;
    const char* arguments; // after the options in the usage line
    const char* summary;
    std::vector<OptionDef> options;
    int (*run)(const ParsedArgs&, std::ostream&, std::ostream&);
    const char* notes;
};

// The pieces commands share.
std::vector<OptionDef> join(std::vector<OptionDef> a, const std::vector<OptionDef>& b);
// A stop request is how the long-running commands normally end: 128 + n reads as success.
int exitStatus(int loopStatus);
std::chrono::milliseconds seconds(double s);
std::optional<double> secondsOption(const ParsedArgs& args, const std::string& name);
void noArguments(const ParsedArgs& args);

} // namespace tolvak::cli
