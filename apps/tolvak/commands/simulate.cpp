#include "tolvak/commands/simulate.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>

#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/print_options.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/platform/console_session.h"

namespace tolvak::cli {

namespace {

struct SimulateSettings {
    PrintSettings print;
    std::optional<double> seconds;
};

int runSimulate(const SimulateSettings& settings, std::ostream& out, std::ostream& err) {
    const auto& duration = settings.seconds;
    ConsoleSession s(err);
    const bool once = settings.print.once;
    ReadingPrinter printer(out, settings.print);
    s.control->setReadingSink([&](std::u16string_view text, std::optional<double> value) {
        if (printer.print(Reading{toUtf8(text), value, std::chrono::system_clock::now()}) && once)
            s.loop->quit(kExitOk);
    });
    StopRequest::Registration stopRequest([&s] { s.loop->stop(); });
    s.control->RndStart();
    if (duration)
        s.loop->startTimer(
            seconds(*duration), [&] { s.loop->quit(kExitOk); }, false);
    int status = s.loop->run();
    s.control->RndEnd();
    return exitStatus(status);
}

} // namespace

Run bindSimulate(Options& options) {
    auto settings = std::make_shared<SimulateSettings>();
    bindPrintOptions(options, settings->print);
    options.seconds("--seconds", "stop after S seconds", settings->seconds);
    return [settings](std::ostream& out, std::ostream& err) {
        return runSimulate(*settings, out, err);
    };
}

} // namespace tolvak::cli
