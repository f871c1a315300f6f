#include "tolvak/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>

#include "control/tolvak.h"
#include "control/utf8.h"
#include "platform/posix/console_msg_box.h"
#include "platform/posix/line_discipline.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_timer.h"
#include "platform/posix/pseudo_terminal.h"
#include "platform/posix/serial_control_posix.h"
#include "tolvak/control_options.h"
#include "tolvak/indicator.h"
#include "tolvak/led_display.h"
#include "tolvak/receive_errors.h"
#include "tolvak/replay.h"
#include "tolvak/text_format.h"

namespace tolvak::cli {

namespace {

using posix::EventLoop;

const OptionDef kHelp{"--help", "", "show this help and exit"};

std::vector<OptionDef> withHelp(std::vector<OptionDef> defs) {
    defs.push_back(kHelp);
    return defs;
}

std::vector<OptionDef> join(std::vector<OptionDef> a, const std::vector<OptionDef>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A control on the real platform: the serial port and Timer1 on this thread's event loop,
// message boxes on stderr (and counted, so that callers can tell that OpenComm failed).
struct Session {
    explicit Session(std::ostream& err) {
        auto serialControl = std::make_unique<posix::PosixSerialControl>(loop);
        serial = serialControl.get();
        auto box = std::make_unique<posix::ConsoleMsgBox>(
            [this, &err](const std::string& title, const std::string& prompt, uint32_t) {
                ++boxes;
                err << posix::formatMsgBox(title, prompt) << std::flush;
            });
        Platform platform{std::move(serialControl), std::make_unique<posix::PosixTimer>(loop),
                          std::move(box), std::make_unique<posix::PosixSockets>(),
                          std::make_unique<ClockRandom>()};
        control = std::make_unique<Tolvak>(std::move(platform));
    }
    ~Session() { control->surface().setObserver(nullptr); }

    EventLoop loop;
    posix::PosixSerialControl* serial = nullptr;
    int boxes = 0;
    std::unique_ptr<Tolvak> control;
};

// Prints each write of the display: a plain line or a JSON object per reading.
class ReadingPrinter : public SurfaceObserver {
  public:
    ReadingPrinter(std::ostream& out, const ParsedArgs& args, std::function<void()> onReading)
        : m_out(out), m_json(args.has("--json")), m_changesOnly(args.has("--changes")),
          m_once(args.has("--once")), m_onReading(std::move(onReading)) {}

    void textChanged(ChildId id, std::u16string_view text) override {
        if (id != ChildId::lblNumber) return;
        // One receive event can write the display several times before the loop stops.
        if (m_once && m_last) return;
        if (m_changesOnly && m_last && *m_last == text) return;
        m_last = std::u16string(text);
        if (m_json)
            m_out << readingJson(text, std::chrono::system_clock::now()) << '\n';
        else
            m_out << plainWeight(text) << '\n';
        m_out.flush();
        if (m_onReading) m_onReading();
    }

  private:
    std::ostream& m_out;
    bool m_json;
    bool m_changesOnly;
    bool m_once;
    std::optional<std::u16string> m_last;
    std::function<void()> m_onReading;
};

// A stop signal is how these commands normally end.
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

// --- read ------------------------------------------------------------------------------------

const std::vector<OptionDef> kPrintOptions = {
    {"--changes", "", "print a reading only when it differs from the last one"},
    {"--json", "", "one JSON object per line: weight text, numeric value, timestamp"},
    {"--once", "", "exit after the first reading"},
};

int runRead(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    checkControlOptions(args);
    const auto timeout = secondsOption(args, "--timeout");

    Session s(err);
    s.loop.stopOnSignals();
    applyControlOptions(args, *s.control, s.serial);

    std::optional<EventLoop::Id> timer;
    auto armTimeout = [&] {
        if (!timeout) return;
        if (timer) s.loop.stopTimer(*timer);
        timer = s.loop.startTimer(
            seconds(*timeout), [&] { s.loop.quit(kExitNoReading); }, false);
    };
    const bool once = args.has("--once");
    ReadingPrinter printer(out, args, [&] {
        if (once) s.loop.quit(kExitOk);
        armTimeout();
    });
    s.control->surface().setObserver(&printer);
    ReceiveErrorReport errors("read", err, args.has("--json") ? &out : nullptr);
    s.control->setReceiveErrorSink([&](const AutomationError& e) { errors.show(e); });

    s.control->OpenComm();
    if (s.boxes > 0 || !s.serial->portOpen()) return kExitOpenFailed;
    s.serial->setOnPortLost([&](const AutomationError& e) {
        err << "tolvak read: the port closed: " << toUtf8(e.description()) << '\n';
        s.loop.quit(kExitFailure);
    });
    armTimeout();
    int status = s.loop.run();
    if (status == kExitNoReading)
        err << "tolvak read: no reading within " << *args.value("--timeout") << " s\n";
    s.control->CloseComm();
    return exitStatus(status);
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
    Replayer replayer(args, out);
    ReceiveErrorReport errors("replay", err);
    replayer.setReceiveErrorSink([&](const AutomationError& e) { errors.show(e); });
    replayer.feedAll(bytes, chunkSize);
    out.flush();
    return kExitOk;
}

// --- indicator -------------------------------------------------------------------------------

const std::vector<OptionDef> kIndicatorOptions = {
    {"--weight", "KG", "a fixed weight instead of the truck profile"},
    {"--places", "N", "digits after the decimal point on the display (default 0)"},
    {"--separator", "TEXT", "written before each frame (default '='; escapes allowed)"},
    {"--terminator", "TEXT", "written after each frame (default none; e.g. '\\r\\n')"},
    {"--order", "ORDER", "reversed (least significant first, default) or display"},
    {"--baud", "RATE", "line rate that paces the frames (default 2400)"},
    {"--rate", "N", "frames per second at most (default: back to back at the line rate)"},
};

IndicatorConfig indicatorConfig(const ParsedArgs& args) {
    IndicatorConfig config;
    auto text = [&](const char* option, std::string& target) {
        if (auto v = args.value(option)) try {
                target = parseEscapes(*v);
            } catch (const UsageError& e) {
                throw UsageError(std::string(option) + ": " + e.what());
            }
    };
    text("--separator", config.format.separator);
    text("--terminator", config.format.terminator);
    if (auto v = args.value("--places"))
        config.format.places = static_cast<int>(parseWhole("--places", *v, 0, 5));
    if (auto v = args.value("--order")) {
        if (*v != "reversed" && *v != "display")
            throw UsageError("--order: '" + *v + "' is neither reversed nor display");
        config.format.leastSignificantFirst = *v == "reversed";
    }
    if (auto v = args.value("--baud"))
        config.baud = static_cast<uint32_t>(parseWhole("--baud", *v, 50, 4000000));
    if (auto v = args.value("--rate")) config.rate = parseNumber("--rate", *v, 0, 1e5);
    if (auto v = args.value("--count"))
        config.count = static_cast<uint64_t>(parseWhole("--count", *v, 1, 1000000000000));
    if (auto v = args.value("--weight")) {
        config.weight = parseNumber("--weight", *v, -1e7, 1e7);
        try {
            encodeFrame(*config.weight, config.format);
        } catch (const std::out_of_range& e) {
            throw UsageError("--weight: " + *v + ": " + e.what());
        }
    }
    if (config.format.separator.empty() && config.format.terminator.empty())
        throw UsageError("frames need a --separator or a --terminator");
    return config;
}

int runIndicator(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    IndicatorConfig config = indicatorConfig(args);
    const auto duration = secondsOption(args, "--seconds");

    std::optional<posix::PseudoTerminal> pty;
    posix::UniqueFd device;
    int fd = -1;
    if (auto path = args.value("--device")) {
        device.reset(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!device) {
            err << "tolvak indicator: " << *path << ": " << std::strerror(errno) << '\n';
            return kExitFailure;
        }
        if (::isatty(device.get())) {
            LineSettings line;
            line.baud = config.baud;
            if (int error = posix::applyLineSettings(device.get(), line)) {
                err << "tolvak indicator: " << *path << ": " << std::strerror(error) << '\n';
                return kExitFailure;
            }
        }
        fd = device.get();
    } else {
        pty = posix::PseudoTerminal::open();
        fd = pty->master();
        out << pty->slavePath() << std::endl;
    }

    EventLoop loop;
    loop.stopOnSignals();
    Indicator indicator(loop, fd, config);
    indicator.setOnFinished([&] { loop.quit(kExitOk); });
    if (duration)
        loop.startTimer(
            seconds(*duration), [&] { loop.quit(kExitOk); }, false);
    indicator.start();
    return exitStatus(loop.run());
}

// --- demo ------------------------------------------------------------------------------------

class DemoView : public SurfaceObserver {
  public:
    DemoView(std::ostream& out, std::string title, const Indicator& indicator)
        : m_out(out), m_tty(::isatty(STDOUT_FILENO) == 1), m_screen(std::move(title), m_tty),
          m_indicator(indicator) {
        if (m_tty) m_out << LedScreen::enter() << std::flush;
    }
    ~DemoView() override {
        if (m_tty) m_out << LedScreen::leave() << std::endl;
    }

    void textChanged(ChildId id, std::u16string_view text) override {
        if (id == ChildId::lblNumber) {
            m_weight = plainWeight(text);
            ++m_readings;
        } else if (id == ChildId::OutMsg) {
            draw(jsonString(text)); // the chunk is shown once per receive event
        }
    }

  private:
    void draw(const std::string& chunk) {
        if (!m_tty) {
            if (m_weight == m_printed) return; // plain output: one line per change
            m_printed = m_weight;
            m_out << m_weight << "  raw " << chunk << std::endl;
            return;
        }
        std::string status = "frames sent " + std::to_string(m_indicator.framesSent()) +
                             ", display writes " + std::to_string(m_readings);
        m_out << m_screen.frame(m_weight, chunk, status) << std::flush;
    }

    std::ostream& m_out;
    bool m_tty;
    LedScreen m_screen;
    const Indicator& m_indicator;
    std::string m_weight = "8888888";
    std::string m_printed;
    uint64_t m_readings = 0;
};

const std::vector<OptionDef> kDemoOptions = {
    {"--seconds", "S", "stop after S seconds (default: run until Ctrl-C)"},
    {"--weight", "KG", "a fixed weight instead of the truck profile"},
    {"--baud", "RATE", "line rate of the simulated indicator and the port (default 2400)"},
    {"--rate", "N", "frames per second at most"},
};

int runDemo(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    IndicatorConfig config = indicatorConfig(args);
    const auto duration = secondsOption(args, "--seconds");

    posix::PseudoTerminal pty = posix::PseudoTerminal::open();
    Session s(err);
    s.loop.stopOnSignals();
    if (auto baud = args.value("--baud")) s.control->setBandRate(fromUtf8(*baud));
    s.serial->bindDevice(s.control->state().portNum, pty.slavePath());

    Indicator indicator(s.loop, pty.master(), config);
    std::string title = "Tolvak demo: simulated indicator on " + pty.slavePath() + ", " +
                        toUtf8(s.control->state().baudRate) + " baud. Ctrl-C stops.";
    DemoView view(out, title, indicator);
    s.control->surface().setObserver(&view);
    s.control->OpenComm();
    if (s.boxes > 0 || !s.serial->portOpen()) return kExitOpenFailed;
    s.serial->setOnPortLost([&](const AutomationError& e) {
        err << "tolvak demo: the port closed: " << toUtf8(e.description()) << '\n';
        s.loop.quit(kExitFailure);
    });
    if (duration)
        s.loop.startTimer(
            seconds(*duration), [&] { s.loop.quit(kExitOk); }, false);
    indicator.start();
    int status = s.loop.run();
    s.control->CloseComm();
    return exitStatus(status);
}

// --- simulate --------------------------------------------------------------------------------

int runSimulate(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    const auto duration = secondsOption(args, "--seconds");
    Session s(err);
    s.loop.stopOnSignals();
    const bool once = args.has("--once");
    ReadingPrinter printer(out, args, [&] {
        if (once) s.loop.quit(kExitOk);
    });
    s.control->surface().setObserver(&printer);
    s.control->RndStart();
    if (duration)
        s.loop.startTimer(
            seconds(*duration), [&] { s.loop.quit(kExitOk); }, false);
    int status = s.loop.run();
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
        out << "{\"hostName\":" << jsonString(name) << ",\"ipv4Address\":" << jsonString(address)
            << ",\"macAddress\":" << jsonString(mac) << "}\n";
    } else {
        out << "host name:    " << toUtf8(name) << "\nIPv4 address: " << toUtf8(address)
            << "\nMAC address:  " << toUtf8(mac) << '\n';
    }
    out.flush();
    return kExitOk;
}

// --- the table of commands -------------------------------------------------------------------

struct Command {
    const char* name;
    const char* arguments;
    const char* summary;
    std::vector<OptionDef> options;
    int (*run)(const ParsedArgs&, std::ostream&, std::ostream&);
    const char* notes;
};

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"read", "[options]",
         "Open the port with OpenComm and print the weight at every display write.",
         withHelp(join(join(controlOptionDefs(), kPrintOptions),
                       {{"--timeout", "S", "exit 3 when S seconds pass without a reading"}})),
         runRead,
         "Exit status: 0 stopped (Ctrl-C, --once), 1 the port went away, 2 the port could not\n"
         "be opened (the message box text is on stderr), 3 --timeout ran out, 64 bad usage.\n"
         "Errors of the receive handler go to stderr ('receive error 6: Overflow'), each one at\n"
         "most once a second; with --json also to stdout as {\"error\":{\"number\":6,...}}.\n"},
        {"replay", "FILE|-",
         "Feed a captured byte stream through the receive handler, without a port.",
         withHelp(join(controlOptionDefs(),
                       {{"--chunk-size", "N", "bytes per receive event (default: all in one)"}})),
         runReplay,
         "Prints 'display <text>' for every write of the display and, after each receive\n"
         "event, 'raw <the receive buffer as a JSON string>'. Errors of the receive handler go\n"
         "to stderr ('receive error 6: Overflow'), each one at most once a second.\n"},
        {"indicator", "[options]",
         "A simulated weighing indicator writing frames to a serial line.",
         withHelp(join(kIndicatorOptions,
                       {{"--device", "PATH",
                         "write to this device (default: a new pseudo-terminal, path printed)"},
                        {"--count", "N", "stop after N frames"},
                        {"--seconds", "S", "stop after S seconds"}})),
         runIndicator,
         "Without --weight the weight follows a truck driving on, settling, standing and driving\n"
         "off (20 s, up to 32000 kg). From --places 2 on, the profile is divided by a power of\n"
         "ten so that it fits the display: 3200.00 at 2 places, 3.20000 at 5. Default frame:\n"
         "'=' then the 7 display characters least significant first and a sign slot ('0' or\n"
         "'-'): 3.000 is =000.3000.\n"},
        {"demo", "[options]",
         "The simulated indicator read through a pseudo-terminal, shown as big red digits.",
         withHelp(kDemoOptions), runDemo,
         "Plain lines instead of the big display when standard output is not a terminal.\n"},
        {"simulate", "[options]",
         "Simulated readings: a random weight every two seconds (RndStart).",
         withHelp(join(kPrintOptions, {{"--seconds", "S", "stop after S seconds"}})), runSimulate,
         ""},
        {"host-info", "[--json]",
         "Host name, IPv4 address and MAC address, as the control finds them.",
         withHelp({{"--json", "", "one JSON object"}}), runHostInfo, ""},
    };
    return table;
}

std::string commandHelp(const Command& c) {
    std::ostringstream text;
    text << "usage: tolvak " << c.name << ' ' << c.arguments << "\n\n" << c.summary << "\n\n";
    if (*c.notes) text << c.notes << '\n';
    text << "options:\n";
    for (const auto& o : c.options) {
        std::string left = "  " + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
        if (left.size() < 26)
            left.resize(26, ' ');
        else
            left += "\n" + std::string(26, ' ');
        text << left << o.help << '\n';
    }
    return text.str();
}

std::string toolHelp() {
    std::ostringstream text;
    text << "usage: tolvak COMMAND [options]\n\n"
            "Reads the weight from a weighbridge indicator on a serial port.\n\ncommands:\n";
    for (const auto& c : commands()) {
        std::string name = std::string("  ") + c.name;
        name.resize(14, ' ');
        text << name << c.summary << '\n';
    }
    text << "\n'tolvak COMMAND --help' describes each command.\n";
    return text.str();
}

bool asksForHelp(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--") return false;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

} // namespace

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << toolHelp();
        return kExitUsage;
    }
    const std::string& name = args.front();
    if (name == "--help" || name == "-h" || name == "help") {
        out << toolHelp();
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const auto& c : commands())
        if (name == c.name) command = &c;
    if (!command) {
        err << "tolvak: unknown command '" << name << "' (see tolvak --help)\n";
        return kExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (asksForHelp(rest)) {
        out << commandHelp(*command);
        return kExitOk;
    }
    try {
        return command->run(parseArgs(rest, command->options), out, err);
    } catch (const UsageError& e) {
        err << "tolvak " << name << ": " << e.what() << " (see tolvak " << name << " --help)\n";
        return kExitUsage;
    } catch (const std::system_error& e) {
        err << "tolvak " << name << ": " << e.what() << '\n';
        return kExitFailure;
    }
}

} // namespace tolvak::cli
