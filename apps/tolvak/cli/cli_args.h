#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tolvak/platform/usage_error.h"

namespace tolvak::cli {

struct OptionDef {
    std::string name;      // "--decimals"
    std::string valueName; // "N"; empty for a flag
    std::string help;
    // What the value (empty for a flag) sets; called once per occurrence, in order.
    std::function<void(const std::string&)> read;
};

struct ParsedArgs {
    std::vector<std::pair<std::string, std::string>> options; // in the order given
    std::vector<std::string> positional;
    bool help = false; // --help or -h came before any mistake
};

// "--name value", "--name=value" and flags; "--" ends the options unless it is an option's value
// ("--other-sep --" is the separator "--"), "-" is an argument. Unknown options, a value missing
// and a flag given one are UsageErrors.
ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs);

// What --help shows for one command: "usage: NAME [options] ARGUMENTS", the summary, the notes,
// then each option with its value name and help.
struct CommandHelp {
    std::string name;      // "tolvak replay"
    std::string arguments; // "FILE|-"; empty when the command takes none
    std::string summary;
    std::string notes; // lines of their own, each ending in a newline; may be empty
    std::vector<OptionDef> options;
};
std::string helpText(const CommandHelp& command);
// The tool's own help: its usage, summary, and a line per command (name and summary).
std::string toolHelpText(const std::string& summary, const std::vector<CommandHelp>& commands,
                         const std::string& footer);

// Value readers; their errors name the option and the range.
double parseNumber(const std::string& option, const std::string& text, double min, double max);
// For options that count something: an optional sign and decimal digits, nothing else (no
// blanks, exponent or fraction, never cut off).
int64_t parseWhole(const std::string& option, const std::string& text, int64_t min, int64_t max);
int16_t parseShort(const std::string& option, const std::string& text);
// C-style escapes: \r \n \t \\ \' \" \? \a \b \f \v \e, octal \O to \OOO (up to \377) and
// \xHH (exactly two hexadecimal digits); other bytes stand for themselves. Throws UsageError
// for a malformed escape.
std::string parseEscapes(const std::string& text);

} // namespace tolvak::cli
