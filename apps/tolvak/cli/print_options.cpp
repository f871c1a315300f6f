#include "tolvak/cli/print_options.h"

namespace tolvak::cli {

const std::vector<OptionDef> kPrintOptions = {
    {"--changes", "", "print a reading only when it differs from the last one"},
    {"--json", "", "one JSON object per line: weight text, numeric value, stable, timestamp"},
    {"--once", "", "exit after the first reading"},
};

PrintSettings printSettings(const ParsedArgs& args) {
    return {args.has("--json"), args.has("--changes"), args.has("--stable"), args.has("--once")};
}

} // namespace tolvak::cli
