#include "tolvak/cli/indicator_options.h"

#include <stdexcept>
#include <string>

#include "acquisition/formats/format.h"
#include "tolvak/cli/command.h"

namespace tolvak::cli {

const std::vector<OptionDef> kIndicatorOptions = {
    {"--weight", "KG", "a fixed weight instead of the truck profile"},
    {"--places", "N", "digits after the decimal point on the display (default 0)"},
    {"--separator", "TEXT", "written before each frame (default '='; escapes allowed)"},
    {"--terminator", "TEXT", "written after each frame (default none; e.g. '\\r\\n')"},
    {"--order", "ORDER", "reversed (least significant first, default) or display"},
    {"--baud", "RATE", "line rate that paces the frames (default 2400)"},
    {"--rate", "N", "frames per second at most (default: back to back at the line rate)"},
    {"--format", "NAME", "frames of this format instead of the control's own (see read --help)"},
    {"--tare", "KG", "with --format: net weights, this tare taken off"},
    {"--on-request", "TEXT", "send a frame only when TEXT is received (escapes allowed)"},
    {"--obey-after", "S", "with --format: zero and tare take effect S seconds after the command"},
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
    text("--on-request", config.request);
    if (auto v = args.value("--format"); v && *v != "control") {
        config.outputFormat = formats::findFormat(*v);
        if (!config.outputFormat || !config.outputFormat->encode)
            throw UsageError("--format: the indicator sends no format '" + *v + "'");
    }
    if (auto v = args.value("--tare")) {
        if (!config.outputFormat) throw UsageError("--tare needs --format");
        config.tare = parseNumber("--tare", *v, 0, 1e7);
    }
    if (auto s = secondsOption(args, "--obey-after")) {
        if (!config.outputFormat) throw UsageError("--obey-after needs --format");
        config.obeyAfter = seconds(*s);
    }
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
            if (config.outputFormat) {
                formats::Sample sample;
                sample.weight = *config.weight;
                sample.places = config.format.places;
                config.outputFormat->encode(sample);
            } else {
                encodeFrame(*config.weight, config.format);
            }
        } catch (const std::out_of_range& e) {
            throw UsageError("--weight: " + *v + ": " + e.what());
        }
    }
    if (!config.outputFormat && config.format.separator.empty() && config.format.terminator.empty())
        throw UsageError("frames need a --separator or a --terminator");
    return config;
}

} // namespace tolvak::cli
