#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "tolvak/cli_args.h"
#include "tolvak/indicator.h"

namespace tolvak::cli {

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
// The simulated indicator's options, and its configuration from them.
extern const std::vector<OptionDef> kIndicatorOptions;
IndicatorConfig indicatorConfig(const ParsedArgs& args);

} // namespace tolvak::cli
