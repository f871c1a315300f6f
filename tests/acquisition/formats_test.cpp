// The indicator formats: each decoder on a table of frames (good, corrupted, cut, noisy), every
// format's frames split at every position, the control's format against the control itself.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "acquisition/formats/format.h"
#include "fakes.h"
#include "text/line_text.h"

namespace tolvak::testing {
namespace {

using namespace formats;

// One frame as a line: "ok 12.5 kg net stable over tare=2" (absent fields left out).
std::string describe(const Frame& f) {
    static const char* const kStatus[] = {"ok", "bad-checksum", "malformed", "no-weight"};
    static const char* const kModes[] = {"", " gross", " net", " tare"};
    static const char* const kRanges[] = {"", " over", " under"};
    std::string s = kStatus[static_cast<int>(f.status)];
    if (f.status != Frame::Status::Ok) return s;
    s += " " + (f.value ? f.text : "none:" + f.text);
    if (!f.unit.empty()) s += " " + f.unit;
    s += kModes[static_cast<int>(f.mode)];
    if (f.stable) s += *f.stable ? " stable" : " motion";
    s += kRanges[static_cast<int>(f.range)];
    if (f.tare) s += " tare=" + (std::ostringstream() << *f.tare).str();
    return s;
}

std::vector<Frame> decodeAll(const Format& format, std::string_view bytes, size_t chunk = 0,
                             const Settings& settings = {}) {
    auto decoder = format.make(settings);
    std::vector<Frame> frames;
    const size_t step = chunk == 0 ? bytes.size() : chunk;
    for (size_t at = 0; at < bytes.size(); at += step)
        decoder->feed(bytes.substr(at, step), frames);
    return frames;
}

std::vector<std::string> describeAll(const std::vector<Frame>& frames) {
    std::vector<std::string> out;
    for (const Frame& f : frames)
        out.push_back(describe(f));
    return out;
}

const std::string kStx = "\x02", kEtx = "\x03";

TEST(Formats, DecodeTable) {
    struct Case {
        const char* format;
        std::string bytes;
        std::vector<std::string> frames;
        std::string pattern = {};
        int16_t decimals = 0;
        std::vector<std::string> map = {};
    };
    const Case cases[] = {
        {"control", "=05.21000=00.2100-=abcdefgh=", {"ok 12.5", "ok -12", "ok none:0"}},
        {"line",
         "  -12.50 kg\r\n+0,5lb\n120\r  7 t\r\n",
         {"ok -12.50 kg", "ok 0.5 lb", "ok 120", "ok 7 t"}},
        {"line", "\r\n12.5.0 kg\r\nkg\r\n- 3\n", {"malformed", "malformed", "ok -3"}},
        {"line", std::string(100, 'x') + "\r\n5\r\n", {"malformed", "ok 5"}},
        {"status",
         "ST,GS,+0012.50kg\r\nUS,NT,-0001.20 kg\r\nST,TR,+0000100  g\r\n",
         {"ok 12.50 kg gross stable", "ok -1.20 kg net motion", "ok 100 g tare stable"}},
        {"status",
         "OL,GS,+9999.99kg\r\nOL,GS,-9999.99kg\r\nQT,GS,+0000012pc\r\nST,XX,+1kg\r\n",
         {"ok none:OL kg gross motion over", "ok none:OL kg gross motion under", "malformed",
          "malformed"}},
        {"status", "ST,GS,+00?2.50kg\r\nST,GS\r\n", {"malformed", "malformed"}},
        // A: 2 decimals; B: kg (0x30), net negative motion (0x3B), out of range (0x34).
        {"toledo",
         kStx + "40 001250000300\r" + kStx + "4; 000120000300\r",
         {"ok 12.50 kg gross stable tare=3", "ok -1.20 kg net motion tare=3"}},
        {"toledo",
         "noise" + kStx + "44 999999000000\r" + kStx + "6  000120000000\r",
         {"ok 9999.99 kg gross stable over tare=0", "ok 0.0120 lb gross stable tare=0"}},
        // Point codes 0 and 1: zeros after the digits; C 0x22: tonnes.
        {"toledo",
         kStx + "00\"000012000000\r" + kStx + "10 000012000000\r",
         {"ok 1200 t gross stable tare=0", "ok 120 kg gross stable tare=0"}},
        {"toledo",
         kStx + "40 0012" + kStx + "40 001250000000\r" + kStx + "40 00x250000000\r",
         {"malformed", "ok 12.50 kg gross stable tare=0", "malformed"}},
        {"toledo-checksum",
         kStx + "40 001250000000\r%" + kStx + "40 001250000000\r&",
         {"ok 12.50 kg gross stable tare=0", "bad-checksum"}},
        {"toledo-checksum", kStx + "40 001350000000\r%", {"bad-checksum"}},
        {"stx-etx",
         kStx +
             "+0012502"
             "1F" +
             kEtx + kStx +
             "-0001203"
             "1d" +
             kEtx,
         {"ok 12.50", "ok -0.120"}},
        {"stx-etx",
         kStx +
             "+0012502"
             "1E" +
             kEtx + "zz" + kStx +
             "+0012502"
             "1F" +
             kEtx,
         {"bad-checksum", "ok 12.50"}},
        {"stx-etx",
         kStx + "+00125" + kStx +
             "+0012502"
             "1F" +
             kEtx + kStx +
             "+0012502"
             "1F",
         {"malformed", "ok 12.50"}},
        {"stx-etx",
         kStx +
             "*0012502"
             "1E" +
             kEtx + kStx +
             "+0012509"
             "14" +
             kEtx,
         {"malformed", "malformed"}},
        {"regex",
         "xx W:+12.50kg ST\r\nW:-1,5lb US\r\nW:??kg ST\r\n",
         {"ok 12.50 kg stable", "ok -1.5 lb motion", "malformed"},
         R"(W:(?<value>[-+]?[\d?]+[.,]?\d*)(?<unit>[a-z]+) (?<status>ST|US)\r\n)"},
        {"regex",
         "N 100 T 20\n",
         {"ok 100 net tare=20"},
         R"((?:x)?(?P<mode>[GN]) (?<value>\d+) (T) (?<tare>\d+)\n)"},
        // Words around the number, one-letter units and stream letter codes, labels.
        {"line",
         "   0.360 kg   ?G\r\nNet:   12.5 lb  NT ST\r\n    -3.2      ?N\r\nGross 5 K\r\n",
         {"ok 0.360 kg gross motion", "ok 12.5 lb net stable", "ok -3.2 net motion",
          "ok 5 kg gross"}},
        {"line",
         kStx + "   120.4KGM\r\n\r+031460.  lb g  " + kEtx + "W: 7 OL\r\n1 2\r\n",
         {"ok 120.4 kg gross motion", "ok 31460 lb gross stable", "ok none:OL motion over",
          "malformed"}},
        {"line", kStx + "  0800  99999  79999" + kEtx, {"ok 0.800"}, "", 3},
        {"stream", kStx + "  -1.20LNO\r\n", {"ok none:OL lb net motion under"}},
        {"line-xor", "WG004.139kg3D\r\nWG004.139kg3E\r\n", {"ok 4.139 kg gross", "bad-checksum"}},
        // No mode, one comma, a comma before the unit, a device ID and a lamp byte.
        {"status",
         "US,+0001.5kg\r\nST,NT+12.0 lb\r\nST,GS,+0003.00,kg\r\nST,GS,1,\xb0,+0012.50kg\r\n"
         "ST,1\xb0+1kg\r\n",
         {"ok 1.5 kg motion", "ok 12.0 lb net stable", "ok 3.00 kg gross stable",
          "ok 12.50 kg gross stable", "malformed"}},
        {"status", "ST,GS,+001250kg\r\n", {"ok 12.50 kg gross stable"}, "", 2},
        {"balance",
         "S S     100.00 g\r\nS D     100.02 g\r\nS I\r\nS +\r\nS -\r\nSI S  -1.5 kg\r\nES\r\n"
         "T S  20 g\r\n",
         {"ok 100.00 g stable", "ok 100.02 g motion", "no-weight", "ok none:OL motion over",
          "ok none:OL motion under", "ok -1.5 kg stable", "malformed", "ok 20 g tare stable"}},
        {"sma",
         "\nZ1G       0.000lb \r\n 1NM     -5.025kg \r\nO1G       -----lb \r\nE1G       -----lb \r"
         "\n?\r",
         {"ok 0.000 lb gross stable", "ok -5.025 kg net motion", "ok none:OL lb gross motion over",
          "no-weight", "malformed"}},
        {"pos",
         "\n0005.25lb\r\n00\r" + kEtx + "\n-001.00kg\r\n10\r" + kEtx + "\n02\r" + kEtx + "\n00\r" +
             kEtx + kStx + "01.234\r" + kStx + "?1\r" + kStx + "?2\r" + kStx + "0800\r",
         {"ok 5.25 lb stable", "ok -1.00 kg motion", "ok none:OL motion over", "no-weight",
          "ok 1.234 stable", "no-weight", "ok none:OL motion over", "ok 8.00 stable"},
         "",
         2},
        {"regex",
         "K  12 D\r\nL 3 ST\r\n",
         {"ok 0.12 kg motion", "ok 0.03 lb stable"},
         R"((?<unit>[KL]) +(?<value>\d+) (?<status>\w+)\r\n)",
         2,
         {"kg=K", "lb=L", "motion=D,?", "stable=ST"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + ": " + c.bytes);
        Settings settings;
        settings.pattern = c.pattern;
        settings.decimals = c.decimals;
        settings.map = c.map;
        EXPECT_EQ(describeAll(decodeAll(*findFormat(c.format), c.bytes, 0, settings)), c.frames);
    }
}

TEST(Formats, BadSettingsAreRefused) {
    for (const char* pattern : {"(?<unit>kg)", "(?<value\\d+", "(?<value>[0-9)"}) {
        Settings s;
        s.pattern = pattern;
        EXPECT_THROW(findFormat("regex")->make(s), std::invalid_argument) << pattern;
    }
    for (const char* map : {"stable", "=S", "stable=", "st able=S"}) {
        Settings s;
        s.pattern = "(?<value>\\d+)";
        s.map = {map};
        EXPECT_THROW(findFormat("regex")->make(s), std::invalid_argument) << map;
    }
}

// A stream of every kind of sample in the format, with noise in front; or only the readings.
std::string sampleStream(const Format& format, bool noisy = true) {
    std::string bytes = noisy ? "\x7f\x11noise" : "";
    const Sample samples[] = {
        {12.5, 2, true, WeightMode::Gross, 0, Range::InRange, "kg"},
        {-1.2, 2, false, WeightMode::Net, 3, Range::InRange, "kg"},
        {32000, 0, false, WeightMode::Gross, 0, Range::InRange, "lb"},
        {0, 1, true, WeightMode::Net, 100, Range::Overload, "kg"},
    };
    for (const Sample& s : samples)
        if (noisy || s.range == Range::InRange)
            bytes += format.encode ? format.encode(s) : std::string(format.example);
    return bytes;
}

// Wherever a read splits the stream, or if it comes a byte at a time, the frames are the same.
TEST(Formats, EveryFormatSplitAtEveryPosition) {
    for (const Format* format : allFormats()) {
        SCOPED_TRACE(std::string(format->name));
        Settings settings;
        settings.pattern = R"((?<value>[-+]?\d+\.\d+)(?<unit>kg)\r\n)";
        const std::string bytes = sampleStream(*format);
        const auto whole = describeAll(decodeAll(*format, bytes, 0, settings));
        ASSERT_GE(whole.size(), 4u);
        EXPECT_EQ(describeAll(decodeAll(*format, bytes, 1, settings)), whole);
        for (size_t at = 1; at < bytes.size(); ++at) {
            auto decoder = format->make(settings);
            std::vector<Frame> frames;
            decoder->feed(std::string_view(bytes).substr(0, at), frames);
            decoder->feed(std::string_view(bytes).substr(at), frames);
            ASSERT_EQ(describeAll(frames), whole) << "split at " << at;
        }
    }
}

// What the simulator encodes comes back as it went in.
TEST(Formats, EncodedSamplesDecodeAsSent) {
    const std::map<std::string, std::vector<std::string>> expected = {
        {"line", {"ok -1.20 kg", "ok 32000 lb", "ok 0.0 kg"}},
        {"status",
         {"ok -1.20 kg net motion", "ok 32000 lb gross motion", "ok none:OL kg net motion over"}},
        {"toledo",
         {"ok -1.20 kg net motion tare=3", "ok 32000 lb gross motion tare=0",
          "ok 99999.9 kg net stable over tare=100"}},
        {"stx-etx", {"ok -1.20", "ok 32000", "ok 0.0"}},
        {"stream",
         {"ok -1.20 kg net motion", "ok 32000 lb gross motion", "ok none:OL kg net motion over"}},
        {"line-xor", {"ok -1.20 kg net", "ok 32000 lb gross", "ok 0.0 kg net"}},
        {"balance", {"ok -1.20 kg motion", "ok 32000 lb motion", "ok none:OL motion over"}},
        {"sma", // the noise in front is a line of its own
         {"ok 12.50 kg gross stable", "ok -1.20 kg net motion", "ok 32000 lb gross motion",
          "ok none:OL kg net motion over"}},
        {"pos", {"ok -1.20 kg motion", "ok 32000 lb motion", "ok none:OL kg motion over"}},
    };
    for (const auto& [name, frames] : expected) {
        auto all = describeAll(decodeAll(*findFormat(name), sampleStream(*findFormat(name))));
        EXPECT_EQ(std::vector<std::string>(all.begin() + 1, all.end()), frames) << name;
    }
}

std::vector<std::string> describeValues(const Format& format, const std::string& bytes) {
    std::vector<std::string> values;
    for (const Frame& f : decodeAll(format, bytes))
        if (f.value) values.push_back(f.text);
    return values;
}

// Each format's own decoder fits its stream best; the others fit it poorly or, where families
// share a shape (a text line that is also a balance reply), read the same weights from it.
TEST(Formats, FitPrefersTheRightFormat) {
    for (const Format* sent : allFormats()) {
        if (!sent->encode) continue;
        std::string bytes;
        for (int i = 0; i < 5; ++i)
            bytes += sampleStream(*sent, false);
        for (const Format* tried : allFormats()) {
            if (tried->name == "regex") continue;
            auto decoder = tried->make({});
            const double confidence = fit(*decoder, bytes, 7).confidence;
            SCOPED_TRACE(std::string(sent->name) + " read as " + std::string(tried->name));
            const auto family = [](const Format* f) {
                return f->name == "stream" ? std::string_view("line") : f->name.substr(0, 6);
            };
            if (tried == sent) EXPECT_GT(confidence, 0.8);
            // The status bytes of a pos reply are digits to a text decoder: detect tells the two
            // apart by how the readings jump (DetectTest).
            else if (family(sent) != family(tried) && confidence >= 0.5 &&
                     !(sent->name == "pos" && family(tried) == "line"))
                EXPECT_EQ(describeValues(*tried, bytes), describeValues(*sent, bytes));
        }
    }
}

// The control's format is the control's parser: the same readings as the control's display.
TEST(Formats, ControlFormatShowsWhatTheControlShows) {
    std::mt19937 random(7);
    const char alphabet[] = "0123456789.-=\r\nx ";
    for (int round = 0; round < 50; ++round) {
        std::string bytes;
        for (int i = 0; i < 200; ++i)
            bytes += alphabet[random() % (sizeof alphabet - 1)];
        Harness h;
        h.control->OpenComm();
        auto decoder = findFormat("control")->make({});
        std::vector<Frame> frames;
        for (size_t at = 0, n; at < bytes.size(); at += n) {
            n = 1 + random() % 9;
            h.serial->receive(lineText(bytes.substr(at, n)));
            decoder->feed(std::string_view(bytes).substr(at, n), frames);
        }
        std::vector<std::string> texts;
        for (const Frame& f : frames)
            texts.push_back(f.text);
        ASSERT_EQ(texts, h.displayWrites()) << bytes;
    }
}

} // namespace
} // namespace tolvak::testing
