#include "tolvak/commands/read.h"

#include <chrono>
#include <memory>
#include <optional>
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
#include "tolvak/feed/stop_request.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

namespace {

struct ReadSettings {
    ControlOptions control;
    StartSettings start;
    FeedOptions feed;
    PrintSettings print;
    std::optional<double> timeout;
    std::string timeoutText; // as given, for the message
};

int runRead(const ReadSettings& settings, std::ostream& out, std::ostream& err) {
    const auto& timeout = settings.timeout;
    FeedOptions feedSettings = settings.feed;
    ReadingPrinter printer(out, settings.print);
    FeedStart start = feedStart("read", settings.control, settings.start, err);
    feedSettings.settle = start.settle;

    ScaleFeed feed(start.scale, feedSettings);
    const std::string& device = feed.port().device;
    const bool follow = settings.feed.follow;
    int status = kExitOk;
    auto lastReading = std::chrono::steady_clock::now();
    const bool once = settings.print.once;
    feed.onReading([&](const Reading& r) {
        // The timeout waits for any reading, printed or not: it watches the line.
        lastReading = std::chrono::steady_clock::now();
        if (printer.print(r) && once) feed.stop();
    });
    ReceiveErrorReport errors("read", err, settings.print.json ? &out : nullptr);
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
    StopRequest::Registration stopRequest([&feed] { feed.stop(); });

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
                err << "tolvak read: no reading within " << settings.timeoutText << " s\n";
                break;
            }
            if (feed.runFor(left)) break;
        }
    }
    feed.close();
    return status;
}

} // namespace

Run bindRead(Options& options) {
    auto settings = std::make_shared<ReadSettings>();
    bindControlOptions(options, settings->control);
    bindPrintOptions(options, settings->print);
    bindStableOptions(options, settings->feed.stable);
    bindPollOptions(options, settings->feed);
    bindStartOptions(options, settings->start, settings->control);
    options.flag("--stable", "print only stable readings that differ from the last one printed",
                 settings->print.stableOnly);
    options.flag("--follow",
                 "keep running when the device is missing or goes away: retry every second",
                 settings->feed.follow);
    options.seconds("--timeout", "exit 3 when S seconds pass without a reading", settings->timeout);
    options.alsoRead("--timeout",
                     [s = settings.get()](const std::string& v) { s->timeoutText = v; });
    return
        [settings](std::ostream& out, std::ostream& err) { return runRead(*settings, out, err); };
}

} // namespace tolvak::cli
