#pragma once

// The contract between the tool and its commands: every command includes this, and it includes
// no command.

#include <chrono>
#include <functional>
#include <iosfwd>

#include "tolvak/cli/options.h"

namespace tolvak::cli {

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;    // a device went away, a file could not be read
constexpr int kExitOpenFailed = 2; // OpenComm showed its message box
constexpr int kExitNoReading = 3;  // --timeout ran out
constexpr int kExitUsage = 64;     // bad command line

// A command with its settings read: run it.
using Run = std::function<int(std::ostream& out, std::ostream& err)>;

// One subcommand: its name and help, and bind, which binds its options to the settings it keeps
// and returns what runs it once the command line has been read into them.
struct Command {
    const char* name;
    const char* arguments; // after the options in the usage line
    const char* summary;
    Run (*bind)(Options&);
    const char* notes;
};

// A stop request is how the long-running commands normally end: 128 + n reads as success.
int exitStatus(int loopStatus);
std::chrono::milliseconds seconds(double s);

} // namespace tolvak::cli
