#include "tolvak/commands/indicator.h"

#include <memory>
#include <ostream>
#include <system_error>

#include "tolvak/cli/command.h"
#include "tolvak/cli/indicator_options.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/platform/tool_platform.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {

std::vector<OptionDef> indicatorOptionDefs() {
    return join(join(kIndicatorOptions, startOptionDefs()),
                {{"--device", "PATH",
                  "write to this device (default: a new pseudo-terminal, path printed)"},
                 {"--count", "N", "stop after N frames"},
                 {"--seconds", "S", "stop after S seconds"}});
}

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
    if (!args.has("--quiet"))
        err << "tolvak indicator: " << (line.name.empty() ? *args.value("--device") : line.name)
            << ", " << lineName(SerialSettings{config.baud}) << ", format "
            << (config.outputFormat ? config.outputFormat->name : "control") << std::endl;

    std::unique_ptr<ToolLoop> loop = makeLoop();
    Indicator indicator(*loop, line.write, config, line.read);
    indicator.setOnFinished([&] { loop->quit(kExitOk); });
    if (duration)
        loop->startTimer(
            seconds(*duration), [&] { loop->quit(kExitOk); }, false);
    indicator.start();
    return exitStatus(loop->run());
}

} // namespace tolvak::cli
