// serve's scales: each --scale read by the single scale's own readers, the old way kept, and the
// mistakes that are usage errors, each naming the scale or the option.
#include <gtest/gtest.h>

#include <functional>

#include "tolvak/serve/scale_runner.h"
#include "tolvak/serve/serve_command.h"

namespace tolvak::cli {
namespace {

TEST(ScaleList, EachScaleGetsItsOwnSettingsAndMistakesNameIt) {
    using Scales = std::vector<ScaleSetup>;
    struct Case {
        std::vector<std::string> args;
        const char* error; // a part of the usage error, or nullptr
        std::function<bool(const Scales&)> holds;
    };
    const std::vector<Case> cases = {
        {{"--device", "/dev/x", "--baud", "9600", "--quiet"},
         nullptr,
         [](const Scales& s) {
             return s.size() == 1 && s[0].name == "scale" &&
                    s[0].control.scale.line.device == "/dev/x" &&
                    s[0].control.scale.line.baudRate == 9600 && s[0].start.quiet &&
                    s[0].feed.follow;
         }},
        {{"--quiet", "--scale", "in=/dev/ttyUSB0,baud=9600,parity=e,stop-bits=2,stable-window=2",
          "--scale", "out=simulate"},
         nullptr,
         [](const Scales& s) {
             const LineSettings& line = s[0].control.scale.line;
             return s.size() == 2 && s[0].name == "in" && line.device == "/dev/ttyUSB0" &&
                    line.baudRate == 9600 && line.parity == 'e' && line.stopBits == 2 &&
                    s[0].feed.stable.window == std::chrono::seconds(2) && s[0].start.quiet &&
                    s[0].start.autoFormat && !s[0].simulated && s[1].name == "out" &&
                    s[1].simulated && s[1].start.quiet;
         }},
        {{"--scale", "b=/dev/y,format=regex,pattern=(?<value>\\d+),map=stable=S,ST,decimals=1"},
         nullptr,
         [](const Scales& s) {
             const auto& format = s[0].control.scale.format;
             return format.format == "regex" && format.pattern == "(?<value>\\d+)" &&
                    format.map == std::vector<std::string>{"stable=S,ST"} && format.decimals == 1 &&
                    !s[0].start.autoFormat;
         }},
        {{"--scale", "in=/dev/x,baud=0"}, "--scale in: --baud", nullptr},
        {{"--scale", "in=/dev/x,speed=9600"}, "unknown key 'speed'", nullptr},
        {{"--scale", "in=/dev/x,device=/dev/y"}, "unknown key 'device'", nullptr},
        {{"--scale", "in=/dev/x,quiet="}, "unknown key 'quiet'", nullptr},
        {{"--scale", "in=/dev/x,9600"}, "'9600' is not KEY=VALUE", nullptr},
        {{"--scale", "in=/dev/x,format=auto,decimals=2"}, "--scale in: --format auto", nullptr},
        {{"--scale", "in"}, "expected NAME=DEVICE", nullptr},
        {{"--scale", "in="}, "the device is empty", nullptr},
        {{"--scale", "in out=/dev/x"}, "a scale's name", nullptr},
        {{"--scale", "in=/dev/x", "--scale", "in=/dev/y"}, "given twice", nullptr},
        {{"--scale", "in=/dev/x", "--baud", "9600"}, "--baud with --scale", nullptr},
        {{"--device", "/dev/y", "--scale", "in=/dev/x"}, "--device with --scale", nullptr},
        {{"--scale", "in=/dev/x", "--simulate"}, "--simulate with --scale", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        ServeSettings settings;
        Options options;
        bindServeOptions(options, settings);
        try {
            options.parse(c.args);
            if (c.error) ADD_FAILURE() << "no usage error";
        } catch (const UsageError& e) {
            const std::string said = e.what();
            EXPECT_TRUE(c.error && said.find(c.error) != std::string::npos) << said;
            continue;
        }
        EXPECT_TRUE(c.holds(serveScales(settings)));
    }
}

// Only the commands a scale's format has are offered; a format left to the tool may turn out to
// have any of them, and the simulated truck obeys all three.
TEST(ScaleRunner, OffersTheCommandsItsFormatHas) {
    const std::vector<std::string> all = {"print", "tare", "zero"};
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"in=/dev/x,format=control", {}},
        {"in=/dev/x,format=status", all},
        {"in=/dev/x", all},
        {"in=simulate", all}};
    for (const auto& [scale, offered] : cases) {
        ServeSettings settings;
        Options options;
        bindServeOptions(options, settings);
        options.parse({"--scale", scale});
        const ScaleSetup& setup = settings.scales.front();
        FeedStart start{setup.control.scale, setup.start, nullptr};
        std::mutex log;
        ScaleRunner runner(setup, start, {}, "serve", std::cerr, log);
        EXPECT_EQ(runner.commands(), offered) << scale;
    }
}

} // namespace
} // namespace tolvak::cli
