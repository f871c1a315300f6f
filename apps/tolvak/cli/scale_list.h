#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tolvak/cli/control_options.h"
#include "tolvak/cli/options.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/feed/feed_settings.h"

namespace tolvak::cli {

// The name of the one scale given the old way (--device and its options, or --simulate).
inline const std::string kDefaultScaleName = "scale";

// One indicator of a server: its name, and its settings as the single scale's options give them.
struct ScaleSetup {
    std::string name;
    ControlOptions control;
    StartSettings start;
    FeedOptions feed;
    bool simulated = false; // the demo's truck instead of a serial line
};

// --scale NAME=DEVICE[,KEY=VALUE...], repeatable: each an indicator with the single scale's
// options as keys (without their dashes), read by the same readers and checks. A bad one, or a
// name given twice, is a UsageError naming the scale.
void bindScaleList(Options& options, std::vector<ScaleSetup>& scales);

// Among the options given (Options::givenWords), the first that belongs to one scale: beside
// --scale it would leave unclear which scale it is for.
std::optional<std::string> scaleOptionOutside(const std::vector<std::string>& givenWords);

} // namespace tolvak::cli
