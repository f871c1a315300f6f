#include "tolvak/cli/indicator_options.h"

#include <memory>
#include <stdexcept>
#include <string>

#include "acquisition/formats/format.h"
#include "tolvak/cli/command.h"

namespace tolvak::cli {

namespace {

struct IndicatorOption {
    const char* name;
    const char* valueName;
    const char* help;
    const char* demoHelp; // nullptr: not a demo option
    void (*read)(IndicatorConfig&, const std::string& value);
};

void escaped(const char* option, std::string& target, const std::string& value) {
    try {
        target = parseEscapes(value);
    } catch (const UsageError& e) {
        throw UsageError(std::string(option) + ": " + e.what());
    }
}

const IndicatorOption kOptions[] = {
    {"--weight", "KG", "a fixed weight instead of the truck profile",
     "a fixed weight instead of the truck profile",
     [](IndicatorConfig& c, const std::string& v) {
         c.weight = parseNumber("--weight", v, -1e7, 1e7);
     }},
    {"--places", "N", "digits after the decimal point on the display (default 0)", nullptr,
     [](IndicatorConfig& c, const std::string& v) {
         c.format.places = static_cast<int>(parseWhole("--places", v, 0, 5));
     }},
    {"--separator", "TEXT", "written before each frame (default '='; escapes allowed)", nullptr,
     [](IndicatorConfig& c, const std::string& v) {
         escaped("--separator", c.format.separator, v);
     }},
    {"--terminator", "TEXT", "written after each frame (default none; e.g. '\\r\\n')", nullptr,
     [](IndicatorConfig& c, const std::string& v) {
         escaped("--terminator", c.format.terminator, v);
     }},
    {"--order", "ORDER", "reversed (least significant first, default) or display", nullptr,
     [](IndicatorConfig& c, const std::string& v) {
         if (v != "reversed" && v != "display")
             throw UsageError("--order: '" + v + "' is neither reversed nor display");
         c.format.leastSignificantFirst = v == "reversed";
     }},
    {"--baud", "RATE", "line rate that paces the frames (default 2400)",
     "line rate of the simulated indicator and the port (default 2400)",
     [](IndicatorConfig& c, const std::string& v) {
         c.baud = static_cast<uint32_t>(parseWhole("--baud", v, 50, 4000000));
     }},
    {"--rate", "N", "frames per second at most (default: back to back at the line rate)",
     "frames per second at most",
     [](IndicatorConfig& c, const std::string& v) { c.rate = parseNumber("--rate", v, 0, 1e5); }},
    {"--format", "NAME", "frames of this format instead of the control's own (see read --help)",
     nullptr,
     [](IndicatorConfig& c, const std::string& v) {
         c.outputFormat = nullptr;
         if (v == "control") return;
         c.outputFormat = formats::findFormat(v);
         if (!c.outputFormat || !c.outputFormat->encode)
             throw UsageError("--format: the indicator sends no format '" + v + "'");
     }},
    {"--tare", "KG", "with --format: net weights, this tare taken off", nullptr,
     [](IndicatorConfig& c, const std::string& v) { c.tare = parseNumber("--tare", v, 0, 1e7); }},
    {"--on-request", "TEXT", "send a frame only when TEXT is received (escapes allowed)", nullptr,
     [](IndicatorConfig& c, const std::string& v) { escaped("--on-request", c.request, v); }},
    {"--obey-after", "S", "with --format: zero and tare take effect S seconds after the command",
     nullptr,
     [](IndicatorConfig& c, const std::string& v) {
         c.obeyAfter = seconds(parseNumber("--obey-after", v, 0.001, 1e7));
     }},
};

// What needs the values of several options, once all are read.
void checkConfig(const IndicatorConfig& config, const std::string& weightText) {
    if (!config.outputFormat) {
        if (config.tare) throw UsageError("--tare needs --format");
        if (config.obeyAfter.count() > 0) throw UsageError("--obey-after needs --format");
    }
    if (config.weight) try {
            if (config.outputFormat) {
                formats::Sample sample;
                sample.weight = *config.weight;
                sample.places = config.format.places;
                config.outputFormat->encode(sample);
            } else {
                encodeFrame(*config.weight, config.format);
            }
        } catch (const std::out_of_range& e) {
            throw UsageError("--weight: " + weightText + ": " + e.what());
        }
    if (!config.outputFormat && config.format.separator.empty() && config.format.terminator.empty())
        throw UsageError("frames need a --separator or a --terminator");
}

} // namespace

void bindIndicatorOptions(Options& options, IndicatorConfig& config, IndicatorOptionSet set) {
    for (const IndicatorOption& o : kOptions) {
        const char* help = set == IndicatorOptionSet::demo ? o.demoHelp : o.help;
        if (!help) continue;
        options.value(o.name, o.valueName, help,
                      [&config, read = o.read](const std::string& v) { read(config, v); });
    }
    auto weightText = std::make_shared<std::string>();
    options.alsoRead("--weight", [weightText](const std::string& v) { *weightText = v; });
    options.check([&config, weightText] { checkConfig(config, *weightText); });
}

} // namespace tolvak::cli
