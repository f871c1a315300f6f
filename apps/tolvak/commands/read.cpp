#include "tolvak/commands/read.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>

#include "platform/posix/console_msg_box.h"
#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/feed_options.h"
#include "tolvak/cli/print_options.h"
#include "tolvak/feed/receive_errors.h"
#include "tolvak/feed/scale_feed.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

namespace {

struct ReadSettings {
    ControlOptions control;
    FeedOptions feed;
    PrintSettings print;
    std::optional<double> timeout;
    std::string timeoutText; // as given, for the message
};

int runRead(const ReadSettings& settings, std::ostream& out, std::ostream& err) {
    const ScaleOptions& options = settings.control.scale;
    const auto& timeout = settings.timeout;

    ScaleFeed feed(options, settings.feed);
    const bool follow = settings.feed.follow;
    int status = kExitOk;
    auto lastReading = std::chrono::steady_clock::now();
    const bool once = settings.print.once;
    ReadingPrinter printer(out, settings.print);
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
        else
            err << posix::formatMsgBox(toUtf8(kNoticeTitle), e.message) << std::flush;
        if (auto hint = openErrorHint(e, feed.port().device); !hint.empty())
            err << "tolvak read: " << hint << '\n' << std::flush;
    });
    bool started = false;
    feed.onPortStatus([&](const PortStatus& port) {
        if (!started) return; // the first open's failure is the message box
        if (port.state == PortStatus::State::connected) {
            err << "tolvak read: " << port.device << ": the device is back\n";
        } else if (follow) {
            err << "tolvak read: waiting for the device: " << port.error << '\n';
        } else {
            err << "tolvak read: the port closed: " << port.error << '\n';
            status = kExitFailure;
            feed.stop();
        }
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
