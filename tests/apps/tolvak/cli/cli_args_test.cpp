#include "tolvak/cli/cli_args.h"

#include <gtest/gtest.h>

#include <functional>

#include "control/method_table.h"
#include "platform/posix/console_msg_box.h"
#include "platform/posix/posix_sockets.h"
#include "text/utf8.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/feed_options.h"
#include "tolvak/cli/scale_list.h"
#include "tolvak/commands/replay.h"
#include "tolvak/output/text_format.h"

namespace tolvak::cli {
namespace {

struct EscapeCase {
    std::string text;
    std::optional<std::string> bytes; // nothing: refused
};

class EscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, DecodesOrRefuses) {
    const auto& c = GetParam();
    if (c.bytes)
        EXPECT_EQ(parseEscapes(c.text), *c.bytes);
    else
        EXPECT_THROW(parseEscapes(c.text), UsageError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EscapeTest,
    ::testing::Values(EscapeCase{"", ""}, EscapeCase{"=", "="}, EscapeCase{"\\r\\n", "\r\n"},
                      EscapeCase{"\\x02", "\x02"},
                      EscapeCase{"\\xfF\\x41", "\xff"
                                               "A"},
                      EscapeCase{"a\\\\b", "a\\b"}, EscapeCase{"\\t\\0x", std::string("\t\0x", 3)},
                      EscapeCase{"\\e", "\x1b"}, EscapeCase{"\\'\\\"", "'\""},
                      EscapeCase{"\\", std::nullopt}, EscapeCase{"ab\\", std::nullopt},
                      EscapeCase{"\\x4", std::nullopt}, EscapeCase{"\\xg0", std::nullopt},
                      EscapeCase{"\\q", std::nullopt},
                      // Octal as C reads it: up to three digits, at most \377.
                      EscapeCase{"\\012", "\n"}, EscapeCase{"\\1234", "S4"},
                      EscapeCase{"\\08", std::string(1, '\0') + "8"}, EscapeCase{"\\377", "\xff"},
                      EscapeCase{"\\400", std::nullopt},
                      // \x41B is one number to C and two bytes to a shell: refused.
                      EscapeCase{"\\x41B", std::nullopt}, EscapeCase{"\\?", "?"}));

struct ArgsCase {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    bool refused;
};

class ArgsTest : public ::testing::TestWithParam<ArgsCase> {};

const std::vector<OptionDef> kDefs = {
    {"--json", "", ""}, {"--other-sep", "TEXT", ""}, {"--chunk-size", "N", ""}};

TEST_P(ArgsTest, SplitsOptionsAndArguments) {
    const auto& c = GetParam();
    if (c.refused) {
        EXPECT_THROW(parseArgs(c.args, kDefs), UsageError);
        return;
    }
    ParsedArgs parsed = parseArgs(c.args, kDefs);
    EXPECT_EQ(parsed.options, c.options);
    EXPECT_EQ(parsed.positional, c.positional);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArgsTest,
    ::testing::Values(
        ArgsCase{{"--json", "file"}, {{"--json", ""}}, {"file"}, false},
        ArgsCase{{"--other-sep", ""}, {{"--other-sep", ""}}, {}, false},
        ArgsCase{{"--other-sep="}, {{"--other-sep", ""}}, {}, false},
        ArgsCase{{"--other-sep", "--json"}, {{"--other-sep", "--json"}}, {}, false},
        ArgsCase{{"-", "--chunk-size=3"}, {{"--chunk-size", "3"}}, {"-"}, false},
        ArgsCase{{"--", "--json"}, {}, {"--json"}, false}, ArgsCase{{"--jsn"}, {}, {}, true},
        ArgsCase{{"--json=1"}, {}, {}, true}, ArgsCase{{"--chunk-size"}, {}, {}, true},
        ArgsCase{{"-x"}, {}, {}, true},
        // A value may look like an option or a negative number.
        ArgsCase{{"--chunk-size", "-3"}, {{"--chunk-size", "-3"}}, {}, false},
        ArgsCase{{"--other-sep", "-"}, {{"--other-sep", "-"}}, {}, false},
        // Every occurrence counts, in order, whichever way it was written.
        ArgsCase{{"--other-sep", "a", "--json", "--other-sep=b"},
                 {{"--other-sep", "a"}, {"--json", ""}, {"--other-sep", "b"}},
                 {},
                 false},
        ArgsCase{{"--json="}, {}, {}, true}, ArgsCase{{"--bogus=1"}, {}, {}, true},
        ArgsCase{{"a", "--", "-x", "--"}, {}, {"a", "-x", "--"}, false},
        // "--" as a value is the value; the options after it are still options.
        ArgsCase{{"--other-sep", "--", "--json=false"}, {}, {}, true},
        ArgsCase{{"--other-sep", "--", "--other-sep=", "--json", "f"},
                 {{"--other-sep", "--"}, {"--other-sep", ""}, {"--json", ""}},
                 {"f"},
                 false},
        ArgsCase{{"--other-sep", "--chunk-size="}, {{"--other-sep", "--chunk-size="}}, {}, false}));

// --help wins over mistakes made before it, and means nothing after "--".
TEST(ArgsHelp, AskedAnywhereAmongTheOptions) {
    const std::vector<std::pair<std::vector<std::string>, bool>> table = {
        {{"--help"}, true},
        {{"-h"}, true},
        {{"--bogus", "--help"}, true},
        {{"--chunk-size", "x", "-h"}, true},
        {{"file", "--help"}, true},
        {{"--", "--help"}, false},
        {{"--json"}, false}};
    for (const auto& [args, help] : table)
        EXPECT_EQ(parseArgs(args, kDefs).help, help) << args.back();
}

// The help text comes from the same definitions the parser takes.
TEST(HelpText, ListsUsageNotesAndEveryOption) {
    const CommandHelp command{"tolvak replay", "FILE|-", "Feed a stream.", "A note.\n", kDefs};
    const std::string text = helpText(command);
    EXPECT_EQ(text.rfind("usage: tolvak replay [options] FILE|-\n\nFeed a stream.\n\nA note.\n", 0),
              0u)
        << text;
    for (const char* line :
         {"\n  --json  ", "\n  --other-sep TEXT  ", "\n  --chunk-size N  ", "\n  -h,--help  "})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    const std::string tool =
        toolHelpText("Reads.", {{"replay", "", "Feed a stream.", "", {}}}, "More.\n");
    EXPECT_EQ(tool.rfind("usage: tolvak COMMAND [options]\n\nReads.\n", 0), 0u) << tool;
    EXPECT_NE(tool.find("\ncommands:\n  replay      Feed a stream.\n"), std::string::npos) << tool;
    EXPECT_EQ(tool.substr(tool.size() - 7), "\nMore.\n");
}

// Whole numbers: parseShort (the control's 16-bit settings) and parseWhole as --count uses it.
struct WholeCase {
    bool isShort;
    std::string text;
    std::optional<int64_t> value; // nothing: refused
};

int64_t parseCase(const WholeCase& c) {
    return c.isShort ? parseShort("--decimals", c.text)
                     : parseWhole("--count", c.text, 1, 1000000000000);
}

class WholeTest : public ::testing::TestWithParam<WholeCase> {};

TEST_P(WholeTest, TakesWholeNumbersInRangeAndRefusesFractions) {
    const auto& c = GetParam();
    if (c.value)
        EXPECT_EQ(parseCase(c), *c.value);
    else
        EXPECT_THROW(parseCase(c), UsageError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WholeTest,
    ::testing::Values(
        WholeCase{true, "0", 0}, WholeCase{true, "-3", -3}, WholeCase{true, "32767", 32767},
        WholeCase{true, "-32768", -32768}, WholeCase{true, "32768", std::nullopt},
        WholeCase{true, "1.5", std::nullopt}, WholeCase{true, "", std::nullopt},
        WholeCase{true, "12x", std::nullopt}, WholeCase{true, "0x10", std::nullopt},
        WholeCase{true, " 1", std::nullopt}, WholeCase{true, "nan", std::nullopt},
        WholeCase{true, "32767.0000000000000001", std::nullopt},
        WholeCase{true, "\f1", std::nullopt}, WholeCase{true, "1 ", std::nullopt},
        WholeCase{true, "+5", 5}, WholeCase{true, "-", std::nullopt}, WholeCase{true, "007", 7},
        WholeCase{true, "1e3", std::nullopt}, WholeCase{false, "1", 1},
        WholeCase{false, "99999999999999999999", std::nullopt},
        WholeCase{false, "1000000000000", 1000000000000}, WholeCase{false, "2.5", std::nullopt},
        WholeCase{false, "1.000001", std::nullopt}, WholeCase{false, "0", std::nullopt},
        WholeCase{false, "1000000000001", std::nullopt}, WholeCase{false, "-1", std::nullopt}));

// The messages give the range as it is, fractions and large bounds included.
TEST(NumberRange, MessageNamesTheTrueBounds) {
    const struct {
        double min, max;
        const char* text;
        const char* message;
    } cases[] = {
        {0.001, 1e7, "0", "--x: '0' is not a number from 0.001 to 10000000"},
        {-1e7, 1e7, "1e8", "--x: '1e8' is not a number from -10000000 to 10000000"},
        {0.5, 2.25, "3", "--x: '3' is not a number from 0.5 to 2.25"},
        {1, 1e12, "x", "--x: 'x' is not a number from 1 to 1000000000000"},
    };
    for (const auto& c : cases) {
        try {
            parseNumber("--x", c.text, c.min, c.max);
            ADD_FAILURE() << c.text << " taken";
        } catch (const UsageError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

// Each option reaches its own field through its own setter, and the same field of a Scale's
// settings, with the control's defaults everywhere else: one row per option.
struct ControlOptionCase {
    std::vector<std::string> args;
    std::function<bool(const ControlState&)> control;
    std::function<bool(const ScaleOptions&)> scale;
};

class ControlOptionTest : public ::testing::TestWithParam<ControlOptionCase> {};

TEST_P(ControlOptionTest, StoresThroughTheSetterAndInTheScaleSettings) {
    auto serial = std::make_unique<NullSerialControl>();
    Platform platform{std::move(serial), std::make_unique<NullTimer>(),
                      std::make_unique<posix::ConsoleMsgBox>(),
                      std::make_unique<posix::PosixSockets>(), std::make_unique<ClockRandom>()};
    Tolvak control(std::move(platform));
    const ControlState defaults = control.state();
    const ControlOptions options = controlOptionsOf(GetParam().args);
    applyControlOptions(options, control, nullptr);
    EXPECT_TRUE(GetParam().control(control.state()));
    EXPECT_TRUE(GetParam().scale(options.scale));
    // Nothing else moved from its default.
    ControlState expected = control.state();
    EXPECT_EQ(expected.commSettings, defaults.commSettings);
    EXPECT_EQ(expected.rawData, defaults.rawData);
}

using S = const ControlState&;
using O = const ScaleOptions&;

INSTANTIATE_TEST_SUITE_P(
    Table, ControlOptionTest,
    ::testing::Values(ControlOptionCase{{},
                                        [](S s) {
                                            return s.otherSep == u"=" && s.baudRate == u"2400" &&
                                                   s.eloadBits == 8 && s.bufferLength == 10 &&
                                                   s.portNum == 1 && s.parity == u"n";
                                        },
                                        [](O o) {
                                            return o.line.device.empty() && o.line.port == 1 &&
                                                   o.line.baudRate == 2400 &&
                                                   o.line.dataBits == 8 && o.line.parity == 'n' &&
                                                   o.line.stopBits == 1 &&
                                                   o.line.bufferLength == 10 &&
                                                   o.format.decimals == 0 &&
                                                   o.format.eloadPrebits == 0 &&
                                                   o.format.eloadBits == 8 &&
                                                   o.format.newLineSeparates &&
                                                   o.format.carriageReturnSeparates &&
                                                   o.format.otherSeparator == "=" &&
                                                   o.format.reversed;
                                        }},
                      ControlOptionCase{{"--decimals", "-3"},
                                        [](S s) { return s.decimals == -3; },
                                        [](O o) { return o.format.decimals == -3; }},
                      ControlOptionCase{{"--eload-prebits", "2"},
                                        [](S s) { return s.eloadPrebits == 2; },
                                        [](O o) { return o.format.eloadPrebits == 2; }},
                      ControlOptionCase{{"--eload-bits", "9"},
                                        [](S s) { return s.eloadBits == 9; },
                                        [](O o) { return o.format.eloadBits == 9; }},
                      ControlOptionCase{{"--buffer-length", "512"},
                                        [](S s) { return s.bufferLength == 512; },
                                        [](O o) { return o.line.bufferLength == 512; }},
                      ControlOptionCase{{"--newline-sep", "2"},
                                        [](S s) { return s.newLineSep == 2; },
                                        [](O o) { return !o.format.newLineSeparates; }},
                      ControlOptionCase{{"--enterkey-sep", "0"},
                                        [](S s) { return s.enterKeySep == 0; },
                                        [](O o) { return !o.format.carriageReturnSeparates; }},
                      ControlOptionCase{{"--other-sep", ""},
                                        [](S s) { return s.otherSep.empty(); },
                                        [](O o) { return o.format.otherSeparator.empty(); }},
                      ControlOptionCase{{"--other-sep", "\\r\\n"},
                                        [](S s) { return s.otherSep == u"\r\n"; },
                                        [](O o) { return o.format.otherSeparator == "\r\n"; }},
                      ControlOptionCase{{"--other-sep", "\\xb0"},
                                        [](S s) { return s.otherSep == u"\u00b0"; },
                                        [](O o) { return o.format.otherSeparator == "\xb0"; }},
                      ControlOptionCase{{"--reverse", "0"},
                                        [](S s) { return s.reverseFrame == 0; },
                                        [](O o) { return !o.format.reversed; }},
                      ControlOptionCase{{"--port", "3"},
                                        [](S s) { return s.portNum == 3; },
                                        [](O o) { return o.line.port == 3; }},
                      ControlOptionCase{{"--baud", "9600"},
                                        [](S s) { return s.baudRate == u"9600"; },
                                        [](O o) { return o.line.baudRate == 9600; }},
                      ControlOptionCase{{"--data-bits", "7"},
                                        [](S s) { return s.dataBits == 7; },
                                        [](O o) { return o.line.dataBits == 7; }},
                      ControlOptionCase{{"--parity", "E"},
                                        [](S s) { return s.parity == u"E"; },
                                        [](O o) { return o.line.parity == 'E'; }},
                      ControlOptionCase{{"--stop-bits", "2"},
                                        [](S s) { return s.stopBits == 2; },
                                        [](O o) { return o.line.stopBits == 2; }},
                      ControlOptionCase{{"--device", "/dev/ttyUSB0"},
                                        [](S s) { return s.portNum == 1; },
                                        [](O o) { return o.line.device == "/dev/ttyUSB0"; }},
                      ControlOptionCase{{"--decimals", "1", "--decimals", "2"},
                                        [](S s) { return s.decimals == 2; },
                                        [](O o) { return o.format.decimals == 2; }}));

// Every command that takes these options refuses the same values, before anything is set.
TEST(ControlOptions, BadValuesAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--decimals", "x"}, {"--port", "70000"},      {"--other-sep", "\\x"},
        {"--reverse", ""},   {"--baud", "9600.5"},     {"--baud", "-1"},
        {"--baud", "fast"},  {"--baud", "4294967296"}, {"--parity", "none"},
        {"--parity", ""},    {"--baud", "9600 "},      {"--baud", "9600.00000000000000001"},
        {"--baud", "\f9600"}};
    for (const auto& args : bad)
        EXPECT_THROW(controlOptionsOf(args), UsageError) << args[0] << ' ' << args[1];
}

struct JsonCase {
    std::u16string text;
    std::string json;
};

class JsonTest : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonTest, KeepsEveryByte) {
    EXPECT_EQ(jsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Table, JsonTest,
                         ::testing::Values(JsonCase{u"", "\"\""}, JsonCase{u"=05.2", "\"=05.2\""},
                                           JsonCase{u"a\"b\\c", "\"a\\\"b\\\\c\""},
                                           JsonCase{u"\r\n\t", "\"\\r\\n\\t\""},
                                           JsonCase{std::u16string(1, u'\0'), "\"\\u0000\""},
                                           JsonCase{u"\u00ff\u007f", "\"\\u00ff\\u007f\""}));

TEST(WeightValue, ReadsTheDisplayText) {
    const std::vector<std::pair<std::u16string, std::optional<double>>> table = {
        {u"12.5", 12.5},  {u" 502", 502},      {u"-20", -20},          {u"0", 0},
        {u"1E+15", 1e15}, {u"", std::nullopt}, {u"abc", std::nullopt}, {u"1 2", std::nullopt}};
    for (const auto& [text, value] : table)
        EXPECT_EQ(weightValue(text), value);
}

TEST(ReadingJson, HasTextValueStableAndUtcTime) {
    const auto epoch = std::chrono::system_clock::time_point(std::chrono::milliseconds(1234));
    struct Row {
        std::u16string weight;
        bool stable;
        std::string json;
    };
    const Row rows[] = {
        {u" 502", true,
         R"({"weight":" 502","value":502,"stable":true,"time":"1970-01-01T00:00:01.234Z"})"},
        {u"x", false,
         R"({"weight":"x","value":null,"stable":false,"time":"1970-01-01T00:00:01.234Z"})"},
        {u"-12.5", false,
         R"({"weight":"-12.5","value":-12.5,"stable":false,"time":"1970-01-01T00:00:01.234Z"})"},
        {u"1E+15", true,
         R"({"weight":"1E+15","value":1e+15,"stable":true,"time":"1970-01-01T00:00:01.234Z"})"},
        {u"\u00ff\r", false,
         R"({"weight":"\u00ff\r","value":null,"stable":false,"time":"1970-01-01T00:00:01.234Z"})"},
    };
    for (const Row& row : rows) {
        Reading reading;
        reading.text = toUtf8(row.weight);
        reading.value = weightValue(row.weight);
        reading.stable = row.stable;
        reading.time = epoch;
        EXPECT_EQ(readingJson(reading), row.json);
    }
}

TEST(IsoTimestamp, AnyTimeBeforeOrAfter1970) {
    using namespace std::chrono;
    const std::pair<system_clock::duration, const char*> table[] = {
        {milliseconds(0), "1970-01-01T00:00:00.000Z"},
        {milliseconds(-1), "1969-12-31T23:59:59.999Z"},
        {nanoseconds(-1), "1969-12-31T23:59:59.999Z"},
        {milliseconds(-1000), "1969-12-31T23:59:59.000Z"},
        {milliseconds(-1001), "1969-12-31T23:59:58.999Z"},
        {milliseconds(1769860800123), "2026-01-31T12:00:00.123Z"},
        {seconds(-2208988800), "1900-01-01T00:00:00.000Z"},
    };
    for (const auto& [since, text] : table)
        EXPECT_EQ(isoTimestamp(system_clock::time_point(since)), text);
}

TEST(ErrorJson, HasNumberDescriptionAndUtcTime) {
    const auto epoch = std::chrono::system_clock::time_point(std::chrono::milliseconds(1234));
    EXPECT_EQ(errorJson(AutomationError(6, u"Overflow"), epoch),
              "{\"error\":{\"number\":6,\"description\":\"Overflow\"},"
              "\"time\":\"1970-01-01T00:00:01.234Z\"}");
    EXPECT_EQ(errorJson(AutomationError(-2147418113, u"a\"b"), epoch),
              "{\"error\":{\"number\":-2147418113,\"description\":\"a\\\"b\"},"
              "\"time\":\"1970-01-01T00:00:01.234Z\"}");
}

} // namespace
} // namespace tolvak::cli

// Milliseconds since the epoch and the UTC text: leap days, the turn of centuries, before 1970.
TEST(IsoTimestamp, CivilDateAndTimeOfDay) {
    const std::pair<int64_t, const char*> table[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {951782400123, "2000-02-29T00:00:00.123Z"},
        {4107542399999, "2100-02-28T23:59:59.999Z"},
        {1796780212345, "2026-12-09T01:36:52.345Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
    };
    for (const auto& [ms, text] : table)
        EXPECT_EQ(tolvak::cli::isoTimestamp(
                      std::chrono::system_clock::time_point(std::chrono::milliseconds(ms))),
                  text)
            << ms;
}
