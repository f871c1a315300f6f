#include "tolvak/cli/feed_options.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tolvak::cli {

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

void bindStableOptions(Options& options, StableSettings& stable) {
    options.value("--stable-window", "S",
                  "stable: every reading in the last S seconds (default 1) within the tolerance",
                  [&stable](const std::string& v) {
                      stable.window = std::chrono::milliseconds(static_cast<int64_t>(
                          parseNumber("--stable-window", v, 0.001, 1e6) * 1000));
                  });
    options.value("--stable-tolerance", "X",
                  "stable: readings may differ by X display units (default 0)",
                  [&stable](const std::string& v) {
                      stable.tolerance = parseNumber("--stable-tolerance", v, 0, 1e15);
                  });
}

void bindPollOptions(Options& options, FeedOptions& feed) {
    options.value("--poll", "TEXT",
                  "request mode: send TEXT (escapes allowed, e.g. 'W\\r') to ask for each reading",
                  [&feed](const std::string& v) {
                      feed.pollRequest = parseEscapes(v);
                      if (feed.pollRequest.empty())
                          throw UsageError("--poll: the request is empty");
                  });
    auto every = std::make_shared<bool>(false);
    options.value("--every", "S",
                  "with --poll: seconds between requests (default 0.2; 200ms also works)",
                  [&feed, every](const std::string& v) {
                      feed.pollInterval = interval("--every", v);
                      *every = true;
                  });
    options.check([&feed, every] {
        if (*every && feed.pollRequest.empty()) throw UsageError("--every needs --poll");
    });
}

} // namespace tolvak::cli
