// The demo: the simulated indicator read through a pseudo-terminal, on Linux.
#include <unistd.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/posix/event_loop.h"
#include "platform/posix/posix_control.h"
#include "platform/posix/pseudo_terminal.h"
#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/indicator_options.h"
#include "tolvak/commands/demo.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/output/led_display.h"
#include "tolvak/output/text_format.h"
#include "tolvak/platform/console_session.h"
#include "tolvak/platform/posix_tool.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {

namespace {

using posix::EventLoop;

// The control on a pty, message boxes on stderr (and counted, so that a failed OpenComm shows).
struct Session {
    explicit Session(std::ostream& err) : control(loop, consoleMsgBox(err, &boxes)) {}

    EventLoop loop;
    int boxes = 0;
    posix::PosixControl control;
};

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

struct DemoSettings {
    IndicatorConfig config;
    std::optional<double> seconds;
    bool baudGiven = false; // the port keeps the control's own rate otherwise
};

int runDemo(const DemoSettings& settings, std::ostream& out, std::ostream& err) {
    const IndicatorConfig& config = settings.config;
    const auto& duration = settings.seconds;

    posix::PseudoTerminal pty = posix::PseudoTerminal::open();
    Session s(err);
    if (settings.baudGiven) s.control->setBandRate(fromUtf8(std::to_string(config.baud)));
    s.control.serial().bindDevice(s.control->state().portNum, pty.slavePath());

    PosixToolLoop toolLoop(s.loop);
    Indicator indicator(toolLoop, fdWriter(pty.master()), config);
    std::string title = "Tolvak demo: simulated indicator on " + pty.slavePath() + ", " +
                        toUtf8(s.control->state().baudRate) + " baud. Ctrl-C stops.";
    DemoView view(out, title, indicator);
    s.control->surface().setObserver(&view);
    s.control->OpenComm();
    if (s.boxes > 0 || !s.control.serial().portOpen()) return kExitOpenFailed;
    s.control.serial().setOnPortLost([&](const AutomationError& e) {
        err << "tolvak demo: the port closed: " << toUtf8(e.description()) << '\n';
        s.loop.quit(kExitFailure);
    });
    if (duration)
        s.loop.startTimer(
            seconds(*duration), [&] { s.loop.quit(kExitOk); }, false);
    StopRequest::Registration stopRequest([&toolLoop] { toolLoop.stop(); });
    indicator.start();
    int status = s.loop.run();
    s.control->CloseComm();
    return exitStatus(status);
}

Run bindDemo(Options& options) {
    auto settings = std::make_shared<DemoSettings>();
    options.seconds("--seconds", "stop after S seconds (default: run until Ctrl-C)",
                    settings->seconds);
    bindIndicatorOptions(options, settings->config, IndicatorOptionSet::demo);
    options.alsoRead("--baud", [s = settings.get()](const std::string&) { s->baudGiven = true; });
    return
        [settings](std::ostream& out, std::ostream& err) { return runDemo(*settings, out, err); };
}

} // namespace

Command demoCommand() {
    return {"demo", "",
            "The simulated indicator read through a pseudo-terminal, shown as big red digits.",
            bindDemo,
            "Plain lines instead of the big display when standard output is not a terminal.\n"};
}

} // namespace tolvak::cli
