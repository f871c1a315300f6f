#pragma once

// The typed settings of a scale feed: what the command line's options come to.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "tolvak/scale.h"

namespace tolvak::cli {

struct ScaleOptions {
    LineSettings line;
    tolvak::FrameFormat format; // not the simulated indicator's cli::FrameFormat
};

// What listening to a line settled: the settings to read with, and the line that says what was
// picked; or none yet, with bytesCame telling whether the line was silent.
struct Settled {
    std::optional<ScaleOptions> options;
    std::string said;
    bool bytesCame = false;
};
// Listens to the device and settles what the user left to the tool; stopped() tells when to give
// up. Throws std::system_error when the device cannot be opened.
using Settle =
    std::function<Settled(const ScaleOptions& given, const std::function<bool()>& stopped)>;

struct FeedOptions {
    // When set, the settings are settled by listening before the port is first opened.
    Settle settle;
    StableSettings stable;
    // Keep going when the port cannot be opened or goes away: retry every retryInterval.
    bool follow = false;
    std::chrono::milliseconds retryInterval{1000};
    // Request mode: pollRequest sent every pollInterval while the port is open.
    std::string pollRequest;
    std::chrono::milliseconds pollInterval{200};
};

} // namespace tolvak::cli
