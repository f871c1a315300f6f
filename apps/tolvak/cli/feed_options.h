#pragma once

#include <vector>

#include "tolvak/cli/cli_args.h"
#include "tolvak/feed/feed_settings.h"

namespace tolvak::cli {

// --poll and --every.
const std::vector<OptionDef>& pollOptionDefs();

// --stable-window and --stable-tolerance.
const std::vector<OptionDef>& stableOptionDefs();
// The feed's options from the command line: the stable settings and --follow.
FeedOptions feedOptions(const ParsedArgs& args);

} // namespace tolvak::cli
