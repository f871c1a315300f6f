#include "tolvak/commands/simulate.h"

#include <chrono>
#include <ostream>

#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/print_options.h"
#include "tolvak/platform/console_session.h"

namespace tolvak::cli {

std::vector<OptionDef> simulateOptionDefs() {
    return join(kPrintOptions, {{"--seconds", "S", "stop after S seconds"}});
}

int runSimulate(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    const auto duration = secondsOption(args, "--seconds");
    ConsoleSession s(err);
    const bool once = args.has("--once");
    ReadingPrinter printer(out, printSettings(args));
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

} // namespace tolvak::cli
