#pragma once

#include <vector>

#include "tolvak/cli/cli_args.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {

// The simulated indicator's options (indicator, demo), and its configuration from them.
extern const std::vector<OptionDef> kIndicatorOptions;
IndicatorConfig indicatorConfig(const ParsedArgs& args);

} // namespace tolvak::cli
