#include "tolvak/commands/read.h"

#include <atomic>
#include <chrono>
#include <ostream>

#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/feed_options.h"
#include "tolvak/cli/print_options.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/detect/auto_format.h"
#include "tolvak/feed/port_problems.h"
#include "tolvak/feed/receive_errors.h"
#include "tolvak/feed/scale_feed.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

namespace {

// A stop request (Ctrl-C, SIGTERM) stops the scale while it runs; the default action comes back
// afterwards.
class StopOnSignals {
  public:
    explicit StopOnSignals(ScaleFeed& feed) {
        s_feed = &feed;
        onStopRequest([] { s_feed.load()->stop(); });
    }
    ~StopOnSignals() {
        onStopRequest(nullptr);
        s_feed = nullptr;
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

  private:
    static inline std::atomic<ScaleFeed*> s_feed{nullptr};
};

} // namespace

std::vector<OptionDef> readOptionDefs() {
    return join(
        join(join(join(join(controlOptionDefs(), kPrintOptions), stableOptionDefs()),
                  pollOptionDefs()),
             startOptionDefs()),
        {{"--stable", "", "print only stable readings that differ from the last one printed"},
         {"--follow", "",
          "keep running when the device is missing or goes away: retry every second"},
         {"--timeout", "S", "exit 3 when S seconds pass without a reading"}});
}

int runRead(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    checkControlOptions(args);
    const auto timeout = secondsOption(args, "--timeout");
    FeedOptions feedSettings = feedOptions(args);
    ReadingPrinter printer(out, printSettings(args));
    // Last: a mistake in the options above is told first.
    FeedStart start = feedStart("read", args, err);
    feedSettings.settle = start.settle;

    ScaleFeed feed(start.scale, feedSettings);
    const std::string& device = feed.port().device;
    const bool follow = args.has("--follow");
    int status = kExitOk;
    auto lastReading = std::chrono::steady_clock::now();
    const bool once = args.has("--once");
    feed.onReading([&](const Reading& r) {
        // The timeout waits for any reading, printed or not: it watches the line.
        lastReading = std::chrono::steady_clock::now();
        if (printer.print(r) && once) feed.stop();
    });
    ReceiveErrorReport errors("read", err, args.has("--json") ? &out : nullptr);
    feed.onError([&](const Error& e) {
        // A request that cannot be sent fails at every poll: shown like a receive error, rarely.
        if (e.source == Error::Source::Receive || e.source == Error::Source::Send)
            errors.show(AutomationError(e.number, fromUtf8(e.description)));
        // Following, the port's state says it (below); else the open error ends the command.
        if (e.source != Error::Source::Open || follow) return;
        const OpenProblem problem = openProblem(e, device);
        err << "tolvak read: " << problem.text << '\n';
        if (!problem.hint.empty()) err << "tolvak read: " << problem.hint << '\n';
        err.flush();
    });
    feed.onNotice([&](const std::string& notice) { err << notice << '\n' << std::flush; });
    bool started = false, wasConnected = false;
    PortStatus said; // what was said last
    feed.onPortStatus([&](const PortStatus& port) {
        if (!sayPortChange(err, "read", port, said)) return;
        if (port.state == PortStatus::State::connected) {
            // Back only when it was there before.
            if (wasConnected)
                err << "tolvak read: " << device << ": the device is back\n";
            else if (started)
                err << "tolvak read: " << device << ": connected\n";
            wasConnected = true;
        } else if (port.state == PortStatus::State::closed && started) {
            // Not following: the first open's failure is said above, a later one ends it.
            err << "tolvak read: the port closed: " << port.error << '\n';
            status = kExitFailure;
            feed.stop();
        }
        err.flush();
    });
    StopOnSignals stopOnSignals(feed);

    if (!feed.start()) return kExitOpenFailed;
    started = true;
    if (!timeout) {
        feed.run();
    } else {
        // The timeout restarts at every reading.
        const auto limit = seconds(*timeout);
        while (true) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(
                lastReading + limit - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                status = kExitNoReading;
                err << "tolvak read: no reading within " << *args.value("--timeout") << " s\n";
                break;
            }
            if (feed.runFor(left)) break;
        }
    }
    feed.close();
    return status;
}

} // namespace tolvak::cli
