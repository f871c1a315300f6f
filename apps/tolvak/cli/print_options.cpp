#include "tolvak/cli/print_options.h"

namespace tolvak::cli {

void bindPrintOptions(Options& options, PrintSettings& print) {
    options.flag("--changes", "print a reading only when it differs from the last one",
                 print.changesOnly);
    options.flag("--json",
                 "one JSON object per line: weight text, numeric value, stable, timestamp",
                 print.json);
    options.flag("--once", "exit after the first reading", print.once);
}

} // namespace tolvak::cli
