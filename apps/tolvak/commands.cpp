#include "tolvak/commands.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>

#include "api/format_reader.h"
#include "control/tolvak.h"
#include "platform/posix/console_msg_box.h"
#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/indicator_options.h"
#include "tolvak/detect_command.h"
#include "tolvak/indicator.h"
#include "tolvak/led_display.h"
#include "tolvak/ports_command.h"
#include "tolvak/receive_errors.h"
#include "tolvak/replay.h"
#include "tolvak/scale.h"
#include "tolvak/scale_feed.h"
#include "tolvak/serve/serve_command.h"
#include "tolvak/serve/token.h"
#include "tolvak/service_command.h"
#include "tolvak/text_format.h"
#include "tolvak/tool_platform.h"

namespace tolvak::cli {

namespace {

// A control on this system: the serial port and Timer1 on this thread's event loop, message
// boxes on stderr.
struct Session {
    explicit Session(std::ostream& err)
        : loop(makeLoop()),
          control(makeControl(
              *loop, std::make_unique<posix::ConsoleMsgBox>(
                         [&err](const std::string& title, const std::string& prompt, uint32_t) {
                             err << posix::formatMsgBox(title, prompt) << std::flush;
                         }))) {}

    std::unique_ptr<ToolLoop> loop;
    std::unique_ptr<Tolvak> control;
};

// Prints readings: a plain line or a JSON object per reading, all of them or only some.
class ReadingPrinter {
  public:
    ReadingPrinter(std::ostream& out, const ParsedArgs& args)
        : m_out(out), m_json(args.has("--json")), m_changesOnly(args.has("--changes")),
          m_stableOnly(args.has("--stable")), m_once(args.has("--once")) {}

    // False when the reading was left out.
    bool print(const Reading& reading) {
        if (m_stableOnly && !reading.stable) return false;
        // Only stable readings count as printed ones then: a weight that moves away and comes
        // back to the same stable value is the same weight.
        if ((m_changesOnly || m_stableOnly) && m_last && *m_last == reading.text) return false;
        // One chunk can carry several frames: --once means one line, not one receive event.
        if (m_once && m_last) return false;
        m_last = reading.text;
        if (m_json)
            m_out << readingJson(reading) << '\n';
        else
            m_out << plainWeight(fromUtf8(reading.text)) << '\n';
        m_out.flush();
        return true;
    }

  private:
    std::ostream& m_out;
    bool m_json;
    bool m_changesOnly;
    bool m_stableOnly;
    bool m_once;
    std::optional<std::string> m_last;
};

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

// --- read ------------------------------------------------------------------------------------

const std::vector<OptionDef> kPrintOptions = {
    {"--changes", "", "print a reading only when it differs from the last one"},
    {"--json", "", "one JSON object per line: weight text, numeric value, stable, timestamp"},
    {"--once", "", "exit after the first reading"},
};

int runRead(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    checkControlOptions(args);
    const ScaleOptions options = scaleOptions(args);
    const auto timeout = secondsOption(args, "--timeout");

    ScaleFeed feed(options, feedOptions(args));
    const bool follow = args.has("--follow");
    int status = kExitOk;
    auto lastReading = std::chrono::steady_clock::now();
    const bool once = args.has("--once");
    ReadingPrinter printer(out, args);
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

// --- replay ----------------------------------------------------------------------------------

int runReplay(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    if (args.positional.size() != 1) throw UsageError("needs one FILE, or - for standard input");
    checkControlOptions(args);
    size_t chunkSize = 0;
    if (auto text = args.value("--chunk-size"))
        chunkSize = static_cast<size_t>(parseWhole("--chunk-size", *text, 1, 1000000000));

    const std::string& name = args.positional.front();
    std::string bytes;
    if (name == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream file(name, std::ios::binary);
        if (!file) {
            err << "tolvak replay: " << name << ": " << std::strerror(errno) << '\n';
            return kExitFailure;
        }
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    const ScaleOptions options = scaleOptions(args);
    keepDataBits(bytes, options.line.dataBits);
    uint64_t readings = 0;
    if (args.has("--json") || args.has("--format")) {
        // Readings as read prints them, from the format's decoder.
        FormatReader reader(options.format);
        ReadingPrinter printer(out, args);
        DropReport drops(err, args.has("--json") ? &out : nullptr);
        const size_t step = chunkSize == 0 ? std::max<size_t>(bytes.size(), 1) : chunkSize;
        for (size_t at = 0; at < bytes.size(); at += step)
            reader.feed(
                std::string_view(bytes).substr(at, step),
                [&](Reading r) {
                    ++readings;
                    printer.print(r);
                },
                [&](const Error& e) { drops.dropped(e, reader.droppedFrame()); });
        out.flush();
        drops.finish();
    } else {
        Replayer replayer(args, out);
        ReceiveErrorReport errors("replay", err);
        replayer.setReceiveErrorSink([&](const AutomationError& e) { errors.show(e); });
        replayer.feedAll(bytes, chunkSize);
        out.flush();
        readings = replayer.displayWrites();
    }
    if (readings > 0) return kExitOk;
    err << "tolvak replay: no reading in " << (name == "-" ? "the input" : name) << '\n';
    return kExitNoReading;
}

// --- indicator -------------------------------------------------------------------------------

int runIndicator(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    IndicatorConfig config = indicatorConfig(args);
    const auto duration = secondsOption(args, "--seconds");

    FrameLine line;
    try {
        line = openFrameLine(args.value("--device"), config.baud);
    } catch (const std::system_error& e) {
        err << "tolvak indicator: " << e.what() << '\n';
        return kExitFailure;
    }
    if (!line.name.empty()) out << line.name << std::endl;

    std::unique_ptr<ToolLoop> loop = makeLoop();
    Indicator indicator(*loop, line.write, config, line.read);
    indicator.setOnFinished([&] { loop->quit(kExitOk); });
    if (duration)
        loop->startTimer(
            seconds(*duration), [&] { loop->quit(kExitOk); }, false);
    indicator.start();
    return exitStatus(loop->run());
}

// --- simulate --------------------------------------------------------------------------------

int runSimulate(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    const auto duration = secondsOption(args, "--seconds");
    Session s(err);
    const bool once = args.has("--once");
    ReadingPrinter printer(out, args);
    s.control->setReadingSink([&](std::u16string_view text, std::optional<double> value) {
        if (printer.print(Reading{toUtf8(text), value, std::chrono::system_clock::now()}) && once)
            s.loop->quit(kExitOk);
    });
    s.control->RndStart();
    if (duration)
        s.loop->startTimer(
            seconds(*duration), [&] { s.loop->quit(kExitOk); }, false);
    int status = s.loop->run();
    s.control->RndEnd();
    return exitStatus(status);
}

// --- host-info -------------------------------------------------------------------------------

int runHostInfo(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    Session s(err);
    const std::u16string name = s.control->getLocalHostName();
    const std::u16string address = s.control->GetLocalIPAddress();
    const std::u16string mac = s.control->getLocalMacAddress();
    if (args.has("--json")) {
        nlohmann::ordered_json object;
        object["hostName"] = toUtf8(name);
        object["ipv4Address"] = toUtf8(address);
        object["macAddress"] = toUtf8(mac);
        out << jsonText(object) << '\n';
    } else {
        out << "host name:    " << toUtf8(name) << "\nIPv4 address: " << toUtf8(address)
            << "\nMAC address:  " << toUtf8(mac) << '\n';
    }
    out.flush();
    return kExitOk;
}

} // namespace tolvak::cli
