#include "tolvak/cli/feed_options.h"

#include <cstdint>
#include <string>

namespace tolvak::cli {

const std::vector<OptionDef>& stableOptionDefs() {
    static const std::vector<OptionDef> defs = {
        {"--stable-window", "S",
         "stable: every reading in the last S seconds (default 1) within the tolerance"},
        {"--stable-tolerance", "X", "stable: readings may differ by X display units (default 0)"},
    };
    return defs;
}

const std::vector<OptionDef>& pollOptionDefs() {
    static const std::vector<OptionDef> defs = {
        {"--poll", "TEXT",
         "request mode: send TEXT (escapes allowed, e.g. 'W\\r') to ask for each reading"},
        {"--every", "S", "with --poll: seconds between requests (default 0.2; 200ms also works)"},
    };
    return defs;
}

namespace {

// "0.2", "0.2s" or "200ms".
std::chrono::milliseconds interval(const std::string& option, std::string text) {
    double unit = 1000;
    if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
        unit = 1;
        text.resize(text.size() - 2);
    } else if (text.size() > 1 && text.back() == 's') {
        text.pop_back();
    }
    return std::chrono::milliseconds(
        static_cast<int64_t>(parseNumber(option, text, 1 / unit, 1e6) * unit));
}

} // namespace

FeedOptions feedOptions(const ParsedArgs& args) {
    FeedOptions options;
    if (auto text = args.value("--stable-window"))
        options.stable.window = std::chrono::milliseconds(
            static_cast<int64_t>(parseNumber("--stable-window", *text, 0.001, 1e6) * 1000));
    if (auto text = args.value("--stable-tolerance"))
        options.stable.tolerance = parseNumber("--stable-tolerance", *text, 0, 1e15);
    options.follow = args.has("--follow");
    if (auto text = args.value("--poll")) {
        options.pollRequest = parseEscapes(*text);
        if (options.pollRequest.empty()) throw UsageError("--poll: the request is empty");
    }
    if (auto text = args.value("--every")) {
        if (!args.has("--poll")) throw UsageError("--every needs --poll");
        options.pollInterval = interval("--every", *text);
    }
    return options;
}

} // namespace tolvak::cli
