// The frame parser: splitting rawData at the separators, decoding complete frames into lblNumber
// and keeping the unfinished tail.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>

#include "acquisition/frame_parser.h"
#include "fakes.h"

namespace tolvak::testing {
namespace {

using Writes = std::vector<std::string>;

// A control with the port open and the given frame settings.
struct Line {
    Harness h;
    Line() { h.control->OpenComm(); }
    // Feeds one chunk and returns the display writes it caused.
    Writes feed(const std::u16string& chunk) {
        size_t before = h.displayWrites().size();
        h.serial->receive(chunk);
        Writes all = h.displayWrites();
        return Writes(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    }
    std::u16string raw() const { return h.control->getRawData(); }
    std::u16string outMsg() const { return h.control->surface().text(ChildId::OutMsg); }
};

TEST(FrameParser, WorkedExampleInThreeChunks) {
    struct Step {
        const char16_t* chunk;
        Writes shown;
        const char16_t* rawAfter;
    };
    const Step steps[] = {
        {u"=05.21000=05.21000=05.2", {"12.5", "12.5"}, u"=05.2"},
        {u"1000=05.21000=", {"12.5", "12.5"}, u"="},
        {u"05.21000", {"12.5"}, u""},
    };
    Line line;
    line.h.surface.events.clear();
    for (const Step& s : steps) {
        SCOPED_TRACE(utf8(s.chunk));
        EXPECT_EQ(line.feed(s.chunk), s.shown);
        EXPECT_EQ(line.raw(), s.rawAfter);
    }
    // Every write is repainted at once.
    Writes expectedEvents;
    for (const std::string& e : line.h.surface.events)
        if (e.find("lblNumber") != std::string::npos) expectedEvents.push_back(e);
    ASSERT_EQ(expectedEvents.size(), 10u);
    for (size_t i = 0; i < expectedEvents.size(); i += 2) {
        EXPECT_EQ(expectedEvents[i], "text:lblNumber=12.5");
        EXPECT_EQ(expectedEvents[i + 1], "refresh:lblNumber");
    }
}

struct DecodeCase {
    const char* name;
    int16_t decimals;
    int16_t reverse;
    const char16_t* chunk;
    Writes shown;
    const char16_t* rawAfter;
};

TEST(FrameParser, DecodesFrames) {
    const DecodeCase cases[] = {
        {"decimals 2", 2, 1, u"05210000=", {"12.5"}, u"="},
        {"negative", 0, 1, u"05.2100-=", {"-12.5"}, u"="},
        {"negative zero", 0, 1, u"0000000-=", {"0"}, u"="},
        {"letter shows 0, later frames decode", 0, 1, u"05.21O00=05.21000=", {"0", "12.5"}, u"="},
        {"blanks around are no frame fault", 0, 1, u" 05.2100=", {"12.5"}, u"="},
        {"tab inside is not numeric", 0, 1, u"05.2\t100=", {"0"}, u"="},
        {"negative decimals multiply", -3, 1, u"21000000=", {"12000"}, u"="},
        {"below one keeps its zero", 2, 1, u"50000000=", {"0.05"}, u"="},
        {"1E+15 and above in exponent form", 0, 1, u"0000000000000001=", {"1E+15"}, u"="},
        {"below 1E-05 in exponent form", 6, 1, u"10000000=", {"1E-06"}, u"="},
        {"exponent in the frame", 0, 0, u"1.25E+01=", {"12.5"}, u"="},
        {"reverse flag 0 keeps received order", 0, 0, u"00012.50=", {"12.5"}, u"="},
        {"reverse flag 2 keeps received order", 0, 2, u"00012.50=", {"12.5"}, u"="},
        {"reverse flag -1 keeps received order", 0, -1, u"12.50000=", {"12.5"}, u"="},
        {"reverse flag 1 reverses", 0, 1, u"12.50000=", {"5.21"}, u"="},
        {"short piece in the middle is dropped",
         0,
         1,
         u"05.21000=05.2=15.21000",
         {"12.5", "12.51"},
         u""},
        {"short piece before an empty last one is dropped",
         0,
         1,
         u"05.2=05.21000=",
         {"12.5"},
         u"="},
        {"last piece short", 0, 1, u"05.21000=05.21000=1000", {"12.5", "12.5"}, u"=1000"},
        {"no separator: nothing happens", 0, 1, u"05.21000", {}, u"05.21000"},
        {"several frames, last one wins",
         0,
         1,
         u"=15.21000=25.21000=35.21000=",
         {"12.51", "12.52", "12.53"},
         u"="},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Line line;
        line.h.control->setDecimals(c.decimals);
        line.h.control->setIsReservChar(c.reverse);
        EXPECT_EQ(line.feed(c.chunk), c.shown);
        EXPECT_EQ(line.raw(), c.rawAfter);
        EXPECT_EQ(line.outMsg(), c.chunk) << "no error";
    }
}

TEST(FrameParser, ShortPiecesAreNeverGluedToLaterInput) {
    Line line;
    EXPECT_EQ(line.feed(u"1000=05.21000="), Writes{"12.5"});
    EXPECT_EQ(line.raw(), u"=");
    EXPECT_EQ(line.feed(u"05.21000="), Writes{"12.5"});
    EXPECT_EQ(line.h.control->getTolvakValue(), u"12.5");
}

TEST(FrameParser, MinimumZeroMakesEveryPieceAFrame) {
    Line line;
    line.h.control->setEloadbits(0);
    EXPECT_EQ(line.feed(u"=5=="), (Writes{"0", "5", "0", "0"}));
    EXPECT_EQ(line.raw(), u"");
    EXPECT_EQ(line.feed(u"7"), Writes{}) << "no separator, no pass";
    EXPECT_EQ(line.raw(), u"7");
}

TEST(FrameParser, NegativeMinimumActsAsZero) {
    Line line;
    line.h.control->setEloadbits(-5);
    line.h.control->setEloadPrebits(2);
    EXPECT_EQ(line.feed(u"1=="), (Writes{"1", "0", "0"}));
    EXPECT_EQ(line.raw(), u"");
}

TEST(FrameParser, MinimumIsTheSumOfBothSettings) {
    Line line;
    line.h.control->setEloadbits(4);
    line.h.control->setEloadPrebits(2);
    EXPECT_EQ(line.feed(u"05.21=1000=052100="), (Writes{"1250"}));
    EXPECT_EQ(line.raw(), u"=");
    EXPECT_EQ(line.feed(u"12345"), Writes{});
    EXPECT_EQ(line.raw(), u"=12345");
    EXPECT_EQ(line.feed(u"6="), Writes{"654321"});
}

TEST(FrameParser, SeparatorFlagsMustBeExactlyOne) {
    struct Case {
        int16_t newLine, enterKey;
        const char16_t* chunk;
        Writes shown;
        const char16_t* rawAfter;
    };
    const Case cases[] = {
        {1, 0, u"05.21000\n", {"12.5"}, u"\n"},    {0, 0, u"05.21000\n", {}, u"05.21000\n"},
        {2, 0, u"05.21000\n", {}, u"05.21000\n"},  {-1, 0, u"05.21000\n", {}, u"05.21000\n"},
        {0, 1, u"05.21000\r", {"12.5"}, u"\r"},    {0, 2, u"05.21000\r", {}, u"05.21000\r"},
        {0, -1, u"05.21000\r", {}, u"05.21000\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.newLine) + "/" + std::to_string(c.enterKey));
        Line line;
        line.h.control->setOtherSepChar(u"");
        line.h.control->setNewLineSepChar(c.newLine);
        line.h.control->setEnterkeySepChar(c.enterKey);
        EXPECT_EQ(line.feed(c.chunk), c.shown);
        EXPECT_EQ(line.raw(), c.rawAfter);
    }
}

// Passes run line feed, then carriage return, then the other separator; a longer separator
// splits at its whole text.
TEST(FrameParser, SeparatorsAndTheOrderOfPasses) {
    struct Case {
        const char16_t* sep;
        const char16_t* chunk;
        Writes shown;
        const char16_t* rawAfter;
    };
    const Case cases[] = {
        // Running the passes in another order would decode these frames.
        {u"=", u"05.21000\r05.21000\n05.2", {"0"}, u"\n05.2"},
        {u"=", u"05.21000=05.21000\r05.2", {"0"}, u"\r05.2"},
        {u"#*", u"05.21000#*15.21000#*05.2", {"12.5", "12.51"}, u"#*05.2"},
        {u"#*", u"05.21000#*", {"12.5"}, u"#*"},
        {u"#*", u"05.21000#05.21000*#*", {"0"}, u"#*"}, // "#" and "*" apart do not split
        {u"=#", u"05.21000=#05=", {"12.5"}, u"=#05="},
        {u"ab", u"05.21000ab05.21000AB", {"12.5", "0"}, u""}, // matching is case-exact
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.sep) + " " + utf8(c.chunk));
        Line line;
        line.h.control->setOtherSepChar(c.sep);
        EXPECT_EQ(line.feed(c.chunk), c.shown);
        EXPECT_EQ(line.raw(), c.rawAfter);
    }
}

TEST(FrameParser, SeparatorCutBetweenChunksWaitsForItsRest) {
    Line line;
    line.h.control->setNewLineSepChar(0);
    line.h.control->setEnterkeySepChar(0);
    line.h.control->setOtherSepChar(u"\r\n");
    EXPECT_EQ(line.feed(u"\r\n05.21000\r"), Writes{}) << "not a frame before its line feed";
    EXPECT_EQ(line.raw(), u"\r\n05.21000\r");
    EXPECT_EQ(line.feed(u"\n15.21000\r\n"), (Writes{"12.5", "12.51"}));
    EXPECT_EQ(line.raw(), u"\r\n");
}

TEST(FrameParser, LargeCountsAreNotLimitedTo16Bits) {
    {
        SCOPED_TRACE("40000 pieces in one pass");
        Line line;
        std::u16string chunk(39999, u'=');
        chunk += u"05.21000";
        EXPECT_EQ(line.feed(chunk), Writes{"12.5"});
        EXPECT_EQ(line.raw(), u"");
        EXPECT_EQ(line.outMsg(), chunk);
    }
    {
        SCOPED_TRACE("a frame of 40000 characters");
        Line line;
        std::u16string frame = u"5" + std::u16string(39999, u'0'); // reads 0...05 reversed
        EXPECT_EQ(line.feed(u"=" + frame + u"="), Writes{"5"});
        EXPECT_EQ(line.raw(), u"=");
    }
}

TEST(FrameParser, ScalingFaultsAreReported) {
    struct Case {
        const char* name;
        int16_t decimals;
        const char16_t* frame; // taken as received (reverse flag 0)
        const char16_t* error;
    };
    const Case cases[] = {
        {"10^decimals beyond double range", 400, u"00012.50", u"6错误信息：Overflow"},
        {"10^decimals underflows to 0", -400, u"00012.50", u"11错误信息：Division by zero"},
        {"0/0", -400, u"00000000", u"6错误信息：Overflow"},
        {"number beyond double range", 0, u"1E999999", u"6错误信息：Overflow"},
        {"quotient beyond double range", -9, u"1.0E+300", u"6错误信息：Overflow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line line;
        line.h.control->setIsReservChar(0);
        line.h.control->setDecimals(c.decimals);
        std::u16string chunk = std::u16string(c.frame) + u"=";
        EXPECT_EQ(line.feed(chunk), Writes{});
        EXPECT_EQ(line.outMsg(), u"接收数据出错，错误代码：" + std::u16string(c.error));
        EXPECT_EQ(line.raw(), u"=") << "the frame is consumed";
    }
}

// A frame that cannot be decoded is reported once and consumed: the frames behind it are shown,
// in the same pass and at later events, however the stream is cut.
TEST(FrameParser, UndecodableFrameHoldsUpNothing) {
    const std::u16string stream =
        u"=00012.50=1E999999=00013.50=00014.50=00015.50=00016.50=00017.50=00018.50=";
    const Writes expected = {"12.5", "13.5", "14.5", "15.5", "16.5", "17.5", "18.5"};
    const std::u16string error = u"接收数据出错，错误代码：6错误信息：Overflow";
    for (size_t chunkSize : {stream.size(), size_t{9}, size_t{1}, size_t{4}, size_t{13}}) {
        SCOPED_TRACE(chunkSize);
        Line line;
        line.h.control->setIsReservChar(0);
        int reports = 0;
        for (size_t at = 0; at < stream.size(); at += chunkSize) {
            line.feed(stream.substr(at, chunkSize));
            reports += line.outMsg() == error;
        }
        EXPECT_EQ(line.h.displayWrites(), expected);
        EXPECT_EQ(reports, 1);
        EXPECT_EQ(line.raw(), u"=");
    }
}

// Errors that every frame would meet keep everything for a later event: a minimum length beyond
// 16 bits, and a display that refuses its text.
TEST(FrameParser, ErrorsNoFrameCanAvoidKeepRawData) {
    Line overflow;
    overflow.h.control->setEloadbits(32767);
    overflow.h.control->setEloadPrebits(32767);
    EXPECT_EQ(overflow.feed(u"=05.21000=05.21000="), Writes{});
    EXPECT_EQ(overflow.raw(), u"=05.21000=05.21000=");

    Line refused;
    refused.h.surface.failNext("text:lblNumber", 380, u"Invalid property value", 1);
    EXPECT_EQ(refused.feed(u"=05.21000=15.21000="), Writes{"12.5"});
    EXPECT_EQ(refused.raw(), u"=05.21000=15.21000=");
}

TEST(FrameParser, TinyNumbersUnderflowToZero) {
    Line line;
    line.h.control->setIsReservChar(0);
    EXPECT_EQ(line.feed(u"1E-99999="), Writes{"0"});
}

// Frames of exactly the minimum length must give the same display whatever the chunking.
TEST(FrameParser, DisplayDoesNotDependOnHowTheStreamIsCut) {
    struct Framing {
        const char16_t* sep;
        int16_t newLine, enterKey;
        const char16_t* otherSep;
    };
    const Framing framings[] = {
        {u"=", 1, 1, u"="},
        {u"\n", 1, 1, u"="},
        {u"\r", 1, 1, u"="},
        // A longer separator may be cut in two between chunks.
        {u"\r\n", 0, 0, u"\r\n"},
        {u"#*", 1, 1, u"#*"},
    };
    for (const Framing& framing : framings) {
        const char16_t* sep = framing.sep;
        SCOPED_TRACE(utf8(sep));
        std::mt19937 rng(20240611);
        std::uniform_int_distribution<int> digit(0, 9);
        std::u16string stream;
        Writes expected;
        for (int i = 0; i < 60; ++i) {
            // Weight with two decimals, sent as eight characters last digit first.
            int whole = digit(rng) * 1000 + digit(rng) * 100 + digit(rng) * 10 + digit(rng);
            int cents = digit(rng) * 10 + 5; // never a trailing zero
            char text[32];
            std::snprintf(text, sizeof text, "%05d.%02d", whole, cents);
            std::string frame(text);
            stream += std::u16string(frame.rbegin(), frame.rend()) + sep;
            std::snprintf(text, sizeof text, "%d.%02d", whole, cents);
            expected.push_back(text);
        }
        for (int trial = 0; trial < 300; ++trial) {
            std::uniform_int_distribution<size_t> length(0, 20);
            Line line;
            line.h.control->setNewLineSepChar(framing.newLine);
            line.h.control->setEnterkeySepChar(framing.enterKey);
            line.h.control->setOtherSepChar(framing.otherSep);
            size_t at = 0;
            while (at < stream.size()) {
                size_t n = std::min(length(rng), stream.size() - at);
                line.feed(stream.substr(at, n));
                at += n;
            }
            ASSERT_EQ(line.h.displayWrites(), expected) << "trial " << trial;
            ASSERT_EQ(line.raw(), std::u16string(sep));
        }
    }
}

// Splitting is a function of the text and the settings: no control, no display.
TEST(FrameParserDirect, SplitsTextIntoFramesAndWhatToKeep) {
    struct Case {
        const char* name;
        const char16_t* text;
        const char16_t* separator;
        int16_t eloadBits;
        int16_t eloadPrebits;
        std::vector<std::u16string> frames;
        const char16_t* kept;
    };
    const Case cases[] = {
        {"no such separator", u"05.21000=05.2", u"\n", 8, 0, {}, u"05.21000=05.2"},
        {"empty separator", u"05.21000=05.2", u"", 8, 0, {}, u"05.21000=05.2"},
        {"unfinished last piece", u"05.21000=05.2", u"=", 8, 0, {u"05.21000"}, u"=05.2"},
        {"complete last piece", u"=05.21000", u"=", 8, 0, {u"05.21000"}, u""},
        {"short pieces dropped", u"1=05.21000=ab=", u"=", 8, 0, {u"05.21000"}, u"="},
        {"prebits add to the minimum", u"05.21000=", u"=", 8, 1, {}, u"="},
        {"negative minimum takes all", u"a=b", u"=", -3, 0, {u"a", u"b"}, u""},
        {"start of a longer separator",
         u"00012.50\r\n00012.50\r",
         u"\r\n",
         8,
         0,
         {u"00012.50"},
         u"\r\n00012.50\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::u16string_view> frames;
        const std::u16string text = c.text;
        size_t used = splitFrames(text, c.separator, c.eloadBits, c.eloadPrebits, frames);
        EXPECT_EQ(std::vector<std::u16string>(frames.begin(), frames.end()), c.frames);
        EXPECT_EQ(text.substr(used), c.kept);
    }
    std::vector<std::u16string_view> frames;
    EXPECT_THROW(splitFrames(u"a=b", u"=", 32767, 1, frames), AutomationError);
    EXPECT_EQ(splitFrames(u"ab", u"=", 32767, 1, frames), 0u) << "no separator: nothing to check";
}

TEST(FrameParserDirect, DecodesOneFrame) {
    struct Case {
        const char* name;
        int16_t decimals;
        int16_t reverse;
        const char16_t* frame;
        const char16_t* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"reversed", 0, 1, u"05.21000", u"12.5", 12.5},
        {"display order", 0, 0, u"00012.50", u"12.5", 12.5},
        {"decimals", 2, 1, u"05210000", u"12.5", 12.5},
        {"not a number shows 0 and has no value", 0, 1, u"05.21O00", u"0", std::nullopt},
        {"reverse flag other than 1 takes them as they come", 0, 2, u"00012.50", u"12.5", 12.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedFrame shown = FrameDecoder(c.decimals, c.reverse).decode(c.frame);
        EXPECT_EQ(shown.text, c.text);
        EXPECT_EQ(shown.value, c.value);
    }
    EXPECT_THROW(FrameDecoder(400, 1).decode(u"05.21000"), AutomationError);

    // The control keeps one decoder and one result from pass to pass: each decode, after any
    // settings and any earlier frame (longer or shorter, a number or not), gives what a fresh
    // decoder gives, and a frame that fails leaves the last result as it was.
    FrameDecoder kept;
    DecodedFrame out;
    for (int round = 0; round < 2; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            kept.reset(c.decimals, c.reverse);
            kept.decode(c.frame, out);
            EXPECT_EQ(out.text, c.text);
            EXPECT_EQ(out.value, c.value);
            kept.decode(u"12.5000000000000000000", out); // longer than any of the cases
            const DecodedFrame before = out;
            kept.reset(400, 1);
            EXPECT_THROW(kept.decode(u"05.21000", out), AutomationError);
            EXPECT_EQ(out.text, before.text);
            EXPECT_EQ(out.value, before.value);
        }
    }
}

TEST(FrameParserDirect, DispatchRunsOnlyEnabledPasses) {
    Line line;
    line.h.control->setNewLineSepChar(0);
    line.h.control->setEnterkeySepChar(0);
    line.h.control->setOtherSepChar(u"");
    EXPECT_EQ(line.feed(u"05.21000=\n\r"), Writes{});
    EXPECT_EQ(line.raw(), u"05.21000=\n\r");
    line.h.control->setNewLineSepChar(1);
    EXPECT_EQ(line.feed(u"x"), Writes{"0"}) << "the line feed pass alone";
    EXPECT_EQ(line.raw(), u"\n\rx");
    line.h.control->setNewLineSepChar(0);
    line.h.control->setOtherSepChar(u"=");
    EXPECT_EQ(line.feed(u"=05.21000=05"), Writes{"12.5"});
    EXPECT_EQ(line.raw(), u"=05");
}

TEST(FrameParserDirect, ReverseText) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"", u""},
        {u"a", u"a"},
        {u"05.21000", u"00012.50"},
        {u"提示ab", u"ba示提"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(reverseText(in), out);
    EXPECT_EQ(reverseText(std::u16string(40000, u'x') + u"y"), u"y" + std::u16string(40000, u'x'));
}

} // namespace
} // namespace tolvak::testing
