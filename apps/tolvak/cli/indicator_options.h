#pragma once

#include "tolvak/cli/options.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {

// The simulated indicator's options, into its configuration: every one (indicator) or the few the
// demo takes, with the demo's words.
enum class IndicatorOptionSet { all, demo };
void bindIndicatorOptions(Options& options, IndicatorConfig& config, IndicatorOptionSet set);

} // namespace tolvak::cli
