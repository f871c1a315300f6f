#pragma once

#include "tolvak/cli/options.h"
#include "tolvak/feed/feed_settings.h"

namespace tolvak::cli {

// --stable-window and --stable-tolerance.
void bindStableOptions(Options& options, StableSettings& stable);
// --poll and --every.
void bindPollOptions(Options& options, FeedOptions& feed);

} // namespace tolvak::cli
