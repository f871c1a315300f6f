#include "tolvak/cli/scale_list.h"

#include <algorithm>
#include <set>

#include "tolvak/cli/control_options.h"
#include "tolvak/cli/feed_options.h"

namespace tolvak::cli {

namespace {

constexpr const char* kSimulated = "simulate";

// A scale's own options: those of the single scale, but for the device, which comes first.
std::vector<OptionDef> perScaleOptionDefs() {
    std::vector<OptionDef> defs;
    for (const auto* group : {&controlOptionDefs(), &stableOptionDefs(), &pollOptionDefs()})
        for (const OptionDef& def : *group)
            if (def.name != "--device") defs.push_back(def);
    return defs;
}

bool isPerScaleOption(const std::string& option) {
    if (option == "--device") return true;
    for (const OptionDef& def : perScaleOptionDefs())
        if (def.name == option) return true;
    return false;
}

// Values that may hold commas of their own ("map=stable=S,ST"): a piece after a comma that is
// not KEY=... goes on with them.
bool takesCommas(const std::string& option) {
    return option == "--map" || option == "--pattern" || option == "--other-sep" ||
           option == "--poll";
}

bool looksLikeKey(const std::string& piece) {
    const size_t equals = piece.find('=');
    return equals != std::string::npos && equals > 0 &&
           std::all_of(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(equals),
                       [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; });
}

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// NAME=DEVICE[,KEY=VALUE...] as the options of one scale, which then go through the same
// checks as the single scale's.
ScaleSetup parseScale(const std::string& text) {
    const size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    if (equals == std::string::npos)
        throw UsageError("--scale '" + text + "': expected NAME=DEVICE[,KEY=VALUE...]");
    if (name.empty() || !std::all_of(name.begin(), name.end(), isNameCharacter))
        throw UsageError("--scale '" + name + "': a scale's name is letters, digits, '-' and '_'");
    const std::string where = "--scale " + name + ": ";
    std::vector<std::string> pieces;
    for (size_t start = equals + 1;;) {
        const size_t comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    ScaleSetup setup;
    setup.name = name;
    const std::string device = pieces.front();
    if (device.empty()) throw UsageError(where + "the device is empty");
    setup.simulated = device == kSimulated;
    ParsedArgs args;
    if (!setup.simulated) args.options.emplace_back("--device", device);
    for (size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        if (!looksLikeKey(piece)) {
            if (args.options.size() > (setup.simulated ? 0u : 1u) &&
                takesCommas(args.options.back().first)) {
                args.options.back().second += "," + piece;
                continue;
            }
            throw UsageError(where + "'" + piece + "' is not KEY=VALUE");
        }
        const size_t eq = piece.find('=');
        const std::string option = "--" + piece.substr(0, eq);
        if (option == "--device" || !isPerScaleOption(option))
            throw UsageError(where + "unknown key '" + piece.substr(0, eq) + "'");
        args.options.emplace_back(option, piece.substr(eq + 1));
    }
    try {
        checkControlOptions(args);
        setup.scale = scaleOptions(args);
        setup.feed = feedOptions(args);
    } catch (const UsageError& e) {
        throw UsageError(where + e.what());
    }
    return setup;
}

} // namespace

const std::vector<OptionDef>& scaleListOptionDefs() {
    static const std::vector<OptionDef> defs = {
        {"--scale", "NAME=DEVICE[,KEY=VALUE...]",
         "an indicator of several (repeatable), with the options above without their dashes, "
         "e.g. out=/dev/ttyUSB1,baud=9600; DEVICE 'simulate': the demo's truck"},
        {"--simulate", "", "the demo's truck instead of --device: try the server without a scale"},
    };
    return defs;
}

std::vector<ScaleSetup> scaleSetups(const ParsedArgs& args) {
    std::vector<ScaleSetup> setups;
    std::set<std::string> names;
    for (const auto& [option, value] : args.options) {
        if (option != "--scale") continue;
        ScaleSetup setup = parseScale(value);
        if (!names.insert(setup.name).second)
            throw UsageError("--scale " + setup.name + ": the name is given twice");
        setups.push_back(std::move(setup));
    }
    if (setups.empty()) {
        ScaleSetup setup;
        setup.name = kDefaultScaleName;
        setup.simulated = args.has("--simulate");
        if (setup.simulated && args.has("--device"))
            throw UsageError("--simulate takes the place of --device: give one of them");
        checkControlOptions(args);
        setup.scale = scaleOptions(args);
        setup.feed = feedOptions(args);
        setups.push_back(std::move(setup));
        return setups;
    }
    // Either every scale has its own settings or there is one scale: options outside --scale
    // would leave unclear which scale they are for.
    for (const auto& [option, value] : args.options) {
        if (option == "--simulate")
            throw UsageError("--simulate with --scale: give the scale as --scale NAME=simulate");
        if (isPerScaleOption(option))
            throw UsageError(option + " with --scale: give it to its scale, as --scale NAME=" +
                             (option == "--device" ? std::string("DEVICE")
                                                   : "DEVICE," + option.substr(2) + "=VALUE"));
    }
    return setups;
}

} // namespace tolvak::cli
