#include "tolvak/cli/scale_list.h"

#include <algorithm>
#include <memory>
#include <set>

#include "tolvak/cli/feed_options.h"

namespace tolvak::cli {

namespace {

constexpr const char* kSimulated = "simulate";

// A scale's own options, bound to its setup: the single scale's, of which --device comes first
// in --scale and --quiet is the server's.
void bindScaleOptions(Options& options, ScaleSetup& setup) {
    bindControlOptions(options, setup.control);
    bindStableOptions(options, setup.feed.stable);
    bindPollOptions(options, setup.feed);
    bindStartOptions(options, setup.start, setup.control);
}

const std::set<std::string>& scaleOptionNames() {
    static const std::set<std::string> names = [] {
        ScaleSetup setup;
        Options options;
        bindScaleOptions(options, setup);
        std::set<std::string> all;
        for (const OptionDef& def : options.defs())
            if (def.name != "--quiet") all.insert(def.name);
        return all;
    }();
    return names;
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

// NAME=DEVICE[,KEY=VALUE...] as the words of one scale's options, which then go through the
// same readers and checks as the single scale's.
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
    const std::string& device = pieces.front();
    if (device.empty()) throw UsageError(where + "the device is empty");
    setup.simulated = device == kSimulated;
    std::vector<std::string> words;
    if (setup.simulated)
        setup.start.needsDevice = false;
    else
        words = {"--device", device};
    for (size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        if (!looksLikeKey(piece)) {
            if (words.size() > 2 && takesCommas(words[words.size() - 2])) {
                words.back() += "," + piece;
                continue;
            }
            throw UsageError(where + "'" + piece + "' is not KEY=VALUE");
        }
        const size_t eq = piece.find('=');
        const std::string option = "--" + piece.substr(0, eq);
        if (option == "--device" || !scaleOptionNames().count(option))
            throw UsageError(where + "unknown key '" + piece.substr(0, eq) + "'");
        words.push_back(option);
        words.push_back(piece.substr(eq + 1));
    }
    try {
        Options options;
        bindScaleOptions(options, setup);
        options.parse(words);
    } catch (const UsageError& e) {
        throw UsageError(where + e.what());
    }
    return setup;
}

} // namespace

void bindScaleList(Options& options, std::vector<ScaleSetup>& scales) {
    options.value("--scale", "NAME=DEVICE[,KEY=VALUE...]",
                  "one of several indicators (repeatable): its name, device and own options, which "
                  "are the line, format, stable and poll options above without their dashes, e.g. "
                  "out=/dev/ttyUSB1,baud=9600; DEVICE 'simulate': the demo's truck",
                  [&scales](const std::string& text) {
                      ScaleSetup setup = parseScale(text);
                      for (const ScaleSetup& other : scales)
                          if (other.name == setup.name)
                              throw UsageError("--scale " + setup.name +
                                               ": the name is given twice");
                      scales.push_back(std::move(setup));
                  });
}

std::optional<std::string> scaleOptionOutside(const std::vector<std::string>& givenWords) {
    for (const std::string& word : givenWords) {
        const std::string option = word.substr(0, word.find('='));
        if (scaleOptionNames().count(option)) return option;
    }
    return std::nullopt;
}

} // namespace tolvak::cli
