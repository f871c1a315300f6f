#pragma once

// The typed settings of a scale feed: what the command line's options come to.

#include <chrono>
#include <string>

#include "tolvak/scale.h"

namespace tolvak::cli {

struct ScaleOptions {
    LineSettings line;
    tolvak::FrameFormat format; // not the simulated indicator's cli::FrameFormat
};

struct FeedOptions {
    StableSettings stable;
    // Keep going when the port cannot be opened or goes away: retry every retryInterval.
    bool follow = false;
    std::chrono::milliseconds retryInterval{1000};
    // Request mode: pollRequest sent every pollInterval while the port is open.
    std::string pollRequest;
    std::chrono::milliseconds pollInterval{200};
};

} // namespace tolvak::cli
