#pragma once

// --format auto: the format, and the line settings the user left open, found by listening to the
// device as detect does.

#include <iosfwd>
#include <string>

#include "tolvak/cli/start_options.h"
#include "tolvak/feed/feed_settings.h"

namespace tolvak::cli {

// A Settle for the feed: listens to device (command names the tool in what it says).
Settle autoSettle(const std::string& command, const std::string& device,
                  const StartSettings& start);

// What read and serve start a feed with: --device auto resolved and said, the start line said
// unless --quiet, and the settle when the format is left to the tool. UsageError for none or
// several USB serial ports for --device auto.
struct FeedStart {
    ScaleOptions scale;
    StartSettings start;
    Settle settle; // empty when nothing is left to the tool
};
FeedStart feedStart(const std::string& command, const ControlOptions& control,
                    const StartSettings& start, std::ostream& err);

} // namespace tolvak::cli
