#include "tolvak/cli/command.h"

#include <cstdint>

namespace tolvak::cli {

std::vector<OptionDef> join(std::vector<OptionDef> a, const std::vector<OptionDef>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

int exitStatus(int loopStatus) {
    return loopStatus >= 128 ? kExitOk : loopStatus;
}

std::chrono::milliseconds seconds(double s) {
    return std::chrono::milliseconds(static_cast<int64_t>(s * 1000));
}

std::optional<double> secondsOption(const ParsedArgs& args, const std::string& name) {
    auto text = args.value(name);
    if (!text) return std::nullopt;
    return parseNumber(name, *text, 0.001, 1e7);
}

void noArguments(const ParsedArgs& args) {
    if (!args.positional.empty())
        throw UsageError("unexpected argument '" + args.positional.front() + "'");
}

} // namespace tolvak::cli
