#include "tolvak/commands/indicator.h"

#include <memory>
#include <optional>
#include <ostream>
#include <system_error>

#include "tolvak/cli/command.h"
#include "tolvak/cli/indicator_options.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/feed/stop_request.h"
#include "tolvak/platform/tool_platform.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {

namespace {

struct IndicatorSettings {
    IndicatorConfig config;
    std::optional<std::string> device;
    std::optional<double> seconds;
    bool quiet = false;
};

int runIndicator(const IndicatorSettings& settings, std::ostream& out, std::ostream& err) {
    const IndicatorConfig& config = settings.config;
    const auto& duration = settings.seconds;

    FrameLine line;
    try {
        line = openFrameLine(settings.device, config.baud);
    } catch (const std::system_error& e) {
        err << "tolvak indicator: " << e.what() << '\n';
        return kExitFailure;
    }
    if (!line.name.empty()) out << line.name << std::endl;
    if (!settings.quiet)
        err << "tolvak indicator: " << (line.name.empty() ? *settings.device : line.name) << ", "
            << lineName(SerialSettings{config.baud}) << ", format "
            << (config.outputFormat ? config.outputFormat->name : "control") << std::endl;

    std::unique_ptr<ToolLoop> loop = makeLoop();
    Indicator indicator(*loop, line.write, config, line.read);
    indicator.setOnFinished([&] { loop->quit(kExitOk); });
    if (duration)
        loop->startTimer(
            seconds(*duration), [&] { loop->quit(kExitOk); }, false);
    StopRequest::Registration stopRequest([&loop] { loop->stop(); });
    indicator.start();
    return exitStatus(loop->run());
}

} // namespace

Run bindIndicator(Options& options) {
    auto settings = std::make_shared<IndicatorSettings>();
    bindIndicatorOptions(options, settings->config, IndicatorOptionSet::all);
    bindQuiet(options, settings->quiet);
    options.text("--device", "PATH",
                 "write to this device (default: a new pseudo-terminal, path printed)",
                 settings->device);
    options.value(
        "--count", "N", "stop after N frames", [s = settings.get()](const std::string& v) {
            s->config.count = static_cast<uint64_t>(parseWhole("--count", v, 1, 1000000000000));
        });
    options.seconds("--seconds", "stop after S seconds", settings->seconds);
    return [settings](std::ostream& out, std::ostream& err) {
        return runIndicator(*settings, out, err);
    };
}

} // namespace tolvak::cli
