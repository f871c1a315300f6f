#pragma once

#include <string>
#include <vector>

#include "tolvak/cli/cli_args.h"
#include "tolvak/feed/feed_settings.h"

namespace tolvak::cli {

// The name of the one scale given the old way (--device and its options, or --simulate).
inline const std::string kDefaultScaleName = "scale";

// One indicator of a server: its name, and its settings as the single-scale options give them.
struct ScaleSetup {
    std::string name;
    ScaleOptions scale;
    FeedOptions feed;
    bool simulated = false; // the demo's truck instead of a serial line
};

// --scale NAME=DEVICE[,KEY=VALUE...] and --simulate.
const std::vector<OptionDef>& scaleListOptionDefs();

// Every scale of a server, in the order given: each --scale, or else the one the options give
// the old way, named kDefaultScaleName. A bad --scale, a name given twice, or a scale's option
// given outside --scale beside one, is a UsageError naming the scale or the option.
std::vector<ScaleSetup> scaleSetups(const ParsedArgs& args);

} // namespace tolvak::cli
