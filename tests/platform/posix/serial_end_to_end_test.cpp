// Indicator → pseudo-terminal → serial port → receive handler → display, on the real Linux path.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "pty_rig.h"
#include "text/number_text.h"
#include "text/utf8.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::testing {
namespace {

using cli::encodeFrame;
using cli::FrameFormat;

struct StreamCase {
    const char* name;
    std::vector<std::pair<std::u16string, Variant>> settings;
    FrameFormat format;
    std::vector<double> weights;
    size_t pieceSize; // bytes per write; 0: the whole stream in one write
};
void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class EndToEnd : public ::testing::TestWithParam<StreamCase> {};

TEST_P(EndToEnd, WeightsArriveInOrderAndNoneIsInvented) {
    const StreamCase& c = GetParam();
    PtyRig rig(c.settings);
    rig.control->OpenComm();
    ASSERT_TRUE(rig.boxes.empty()) << rig.boxes.front().prompt;
    ASSERT_TRUE(rig.serial->portOpen());

    std::string stream;
    std::vector<std::u16string> expected;
    for (double w : c.weights) {
        stream += encodeFrame(w, c.format);
        expected.push_back(decimalText(w));
    }
    std::thread writer([&] {
        const size_t step = c.pieceSize == 0 ? stream.size() : c.pieceSize;
        for (size_t at = 0; at < stream.size(); at += step) {
            writeAll(rig.pty.master(), std::string_view(stream).substr(at, step));
            if (c.pieceSize) std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    bool done = rig.runUntil([&] { return rig.displays.size() >= expected.size(); });
    writer.join();
    rig.loop.runFor(std::chrono::milliseconds(50)); // anything extra would show up now
    EXPECT_TRUE(done);
    EXPECT_EQ(rig.displays, expected);
    // No unfinished frame is left over: at most the separator that ended the last one.
    const std::u16string raw = rig.control->getRawData();
    EXPECT_TRUE(raw.empty() || raw == u"\r" || raw == u"\r\n") << toUtf8(raw);
}

const std::vector<double> kWeights = {0, 20, 12.5, 3200, -20, 7, 0.5, 9999.5, 0};

INSTANTIATE_TEST_SUITE_P(
    Table, EndToEnd,
    ::testing::Values(
        StreamCase{"DefaultFormat", {}, FrameFormat{2, "=", "", true}, kWeights, 0},
        StreamCase{"DefaultFormatByteByByte", {}, FrameFormat{1, "=", "", true}, kWeights, 1},
        StreamCase{"DefaultFormatOddPieces",
                   {},
                   FrameFormat{0, "=", "", true},
                   {0, 20, 40, 32000, -20, 31980, 0},
                   5},
        // CR/LF after each frame, in display order: CR/LF is then the only separator.
        StreamCase{"CrLfFramed",
                   {{u"setNewLineSepChar", int16_t{0}},
                    {u"setEnterkeySepChar", int16_t{0}},
                    {u"setOtherSepChar", u"\r\n"},
                    {u"setIsReservChar", int16_t{0}}},
                   FrameFormat{1, "", "\r\n", false},
                   kWeights,
                   3}, // pieces of 3 bytes: CR and LF arrive apart
        // A lone CR after each reversed frame works with the defaults.
        StreamCase{"CrFramed", {}, FrameFormat{0, "", "\r", true}, {0, 20, 32000, -20}, 0},
        StreamCase{"FasterLine",
                   {{u"setBandRate", u"115200"}, {u"setParity", u"E"}, {u"setDataBit", int16_t{7}}},
                   FrameFormat{2, "=", "", true},
                   kWeights,
                   0}),
    [](const auto& info) { return std::string(info.param.name); });

struct OpenFailureCase {
    const char* name;
    std::vector<std::pair<std::u16string, Variant>> settings;
    const char* device; // nullptr: the rig's pseudo-terminal
    int32_t number;
    const char* description; // part of the text
    bool bindPort = true;
};
void PrintTo(const OpenFailureCase& c, std::ostream* os) {
    *os << c.name;
}
class OpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailure, ShowsTheBoxWithNumberAndReason) {
    const auto& c = GetParam();
    PtyRig rig(c.settings, c.device == nullptr && c.bindPort);
    if (c.device) rig.serial->bindDevice(rig.control->state().portNum, c.device);
    rig.control->OpenComm();
    EXPECT_FALSE(rig.serial->portOpen());
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].title, "提示");
    EXPECT_EQ(rig.boxes[0].flags, 0x30u);
    EXPECT_NE(rig.boxes[0].prompt.find("错误代码：" + std::to_string(c.number) + "\r"),
              std::string::npos)
        << rig.boxes[0].prompt;
    EXPECT_NE(rig.boxes[0].prompt.find(c.description), std::string::npos) << rig.boxes[0].prompt;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenFailure,
    ::testing::Values(
        OpenFailureCase{"MissingDevice",
                        {},
                        "/dev/tolvak-no-such-tty",
                        8002,
                        "/dev/tolvak-no-such-tty: No such file or directory"},
        OpenFailureCase{"NotATerminal", {}, "/dev/null", 8002, "/dev/null: "},
        OpenFailureCase{"UnboundPortNumber",
                        {{u"setPortNum", int16_t{40}}},
                        nullptr,
                        8002,
                        "/dev/ttyS39: ",
                        false},
        OpenFailureCase{
            "PortZero", {{u"setPortNum", int16_t{0}}}, nullptr, 8002, "Invalid port number", false},
        OpenFailureCase{"BadParity", {{u"setParity", u"x"}}, nullptr, 380, " 2400,x, 8 , 1"},
        OpenFailureCase{
            "NineDataBits", {{u"setDataBit", int16_t{9}}}, nullptr, 380, " 2400,n, 9 , 1"},
        OpenFailureCase{"ThreeStopBits", {{u"setStopBit", int16_t{3}}}, nullptr, 380, "settings"},
        OpenFailureCase{"NegativeBuffer",
                        {{u"setBufferLength", int16_t{-1}}},
                        nullptr,
                        380,
                        "Invalid property value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialFaults, PortHeldByAnotherProcessIsBusy) {
    PtyRig rig;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) { // holds the port the way another reader would, until killed
        int fd = ::open(rig.pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
        if (::write(ready[1], "x", 1) != 1) ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    rig.control->OpenComm();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_FALSE(rig.serial->portOpen());
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_NE(rig.boxes[0].prompt.find("错误代码：8010"), std::string::npos);
    EXPECT_NE(rig.boxes[0].prompt.find(rig.pty.slavePath() + ": Device or resource busy"),
              std::string::npos);
    // Once the other program lets go, the same call opens it.
    rig.control->OpenComm();
    EXPECT_TRUE(rig.serial->portOpen());
}

TEST(SerialFaults, PeerClosingMidFrameClosesThePortWithoutFlooding) {
    PtyRig rig;
    std::vector<AutomationError> lost;
    rig.serial->setOnPortLost([&](const AutomationError& e) { lost.push_back(e); });
    rig.control->OpenComm();
    ASSERT_TRUE(rig.serial->portOpen());
    rig.write("=05.21000=05.2");
    // The kernel discards what the reader has not taken at hang-up; let it take the bytes.
    ASSERT_TRUE(rig.runUntil([&] { return rig.control->getRawData() == u"=05.2"; }));
    rig.pty.closeMaster();
    rig.runUntil([&] { return !rig.serial->portOpen(); });
    const uint64_t wakeups = rig.loop.wakeups();
    rig.loop.runFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(rig.serial->portOpen());
    EXPECT_LE(rig.loop.wakeups() - wakeups, 2u) << "the hung-up line keeps waking the loop";
    EXPECT_EQ(rig.displays, std::vector<std::u16string>{u"12.5"});
    EXPECT_LE(rig.chunks.size(), 2u);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].number(), errors::kPortNotAvailable);
    EXPECT_NE(toUtf8(lost[0].description()).find(rig.pty.slavePath()), std::string::npos);
    // The unfinished frame waits for a port that comes back; it never becomes a reading.
    EXPECT_EQ(rig.control->getRawData(), u"=05.2");
    EXPECT_THROW(rig.serial->input(), AutomationError);
}

TEST(SerialFaults, PortOpensAgainOnceTheDeviceIsBack) {
    // A stable name for a device that goes and comes back, as udev gives a USB adapter.
    const auto dir =
        std::filesystem::temp_directory_path() / ("tolvak-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto link = dir / "ttyUSB0";
    PtyRig rig;
    std::filesystem::create_symlink(rig.pty.slavePath(), link);
    rig.serial->bindDevice(1, link.string());
    rig.control->OpenComm();
    ASSERT_TRUE(rig.serial->portOpen());
    rig.pty.closeMaster();
    EXPECT_TRUE(rig.runUntil([&] { return !rig.serial->portOpen(); }));

    rig.control->OpenComm(); // unplugged: refused, nothing hangs
    EXPECT_FALSE(rig.serial->portOpen());
    EXPECT_EQ(rig.boxes.size(), 1u);

    auto back = posix::PseudoTerminal::open();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(back.slavePath(), link);
    rig.control->OpenComm();
    EXPECT_TRUE(rig.serial->portOpen());
    ASSERT_TRUE(writeAll(back.master(), "=00023000"));
    EXPECT_TRUE(rig.runUntil([&] { return !rig.displays.empty(); }));
    EXPECT_EQ(rig.displays, std::vector<std::u16string>{u"32000"});
    std::filesystem::remove_all(dir);
}

TEST(SerialFaults, BurstWhileTheHandlerIsBusyLosesNothing) {
    PtyRig rig;
    rig.control->OpenComm();
    ASSERT_TRUE(rig.serial->portOpen());
    FrameFormat format;
    std::string stream;
    std::vector<std::u16string> expected;
    for (int i = 0; stream.size() < 64 * 1024; ++i) {
        stream += encodeFrame(i, format);
        expected.push_back(decimalText(i));
    }
    std::atomic<bool> written{false};
    bool stalled = false;
    rig.onText = [&](ChildId id) {
        // The first reading takes long: the rest of the burst piles up meanwhile.
        if (id == ChildId::lblNumber && !stalled) {
            stalled = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    };
    std::thread writer([&] {
        writeAll(rig.pty.master(), stream);
        written = true;
    });
    bool done = rig.runUntil([&] { return rig.displays.size() >= expected.size(); },
                             std::chrono::seconds(20));
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(written);
    ASSERT_EQ(rig.displays.size(), expected.size());
    EXPECT_EQ(rig.displays, expected);
}

TEST(SerialPortRules, OpenPortRefusesOtherPortAndBufferButTakesSettings) {
    PtyRig rig;
    rig.control->OpenComm();
    ASSERT_TRUE(rig.serial->portOpen());
    posix::PosixSerialControl& port = *rig.serial;

    struct Change {
        const char* what;
        std::function<void()> apply;
        std::optional<int32_t> refusal;
    };
    const std::vector<Change> changes = {
        {"same port", [&] { port.setCommPort(1); }, std::nullopt},
        {"other port", [&] { port.setCommPort(2); }, errors::kPortAlreadyOpen},
        {"same buffer", [&] { port.setInBufferSize(10); }, std::nullopt},
        {"other buffer", [&] { port.setInBufferSize(20); }, errors::kPortAlreadyOpen},
        {"open again", [&] { port.setPortOpen(true); }, errors::kPortAlreadyOpen},
        {"settings", [&] { port.setSettings(u" 9600,e, 7 , 2"); }, std::nullopt},
        {"bad settings", [&] { port.setSettings(u" 9600,q, 7 , 2"); },
         errors::kInvalidPropertyValue},
    };
    for (const auto& change : changes) {
        std::optional<int32_t> number;
        try {
            change.apply();
        } catch (const AutomationError& e) {
            number = e.number();
        }
        EXPECT_EQ(number, change.refusal) << change.what;
        EXPECT_TRUE(port.portOpen()) << change.what;
    }
    EXPECT_EQ(port.commPort(), 1);
    // The good settings were applied to the open port; the bad ones changed nothing.
    EXPECT_EQ(port.lineSettings(), (SerialSettings{9600, Parity::Even, 7, StopBits::Two}));
    // A second OpenComm on the open port reprograms it without a box.
    rig.control->OpenComm();
    EXPECT_TRUE(rig.boxes.empty());
    EXPECT_TRUE(port.portOpen());
}

TEST(SerialPortRules, SmallBufferNeverLosesCharactersAndBytesStayBytes) {
    PtyRig rig({{u"setBufferLength", int16_t{1}}, {u"setEloadbits", int16_t{2000}}});
    rig.control->OpenComm();
    ASSERT_TRUE(rig.serial->portOpen());
    // Noise with the high bit set, then one frame far longer than the requested buffer.
    const std::string sent = "\xff\x80\x01=5.21" + std::string(1996, '0');
    rig.write(sent);
    EXPECT_TRUE(rig.runUntil([&] { return !rig.displays.empty(); }));
    EXPECT_EQ(rig.displays, std::vector<std::u16string>{u"12.5"});
    std::u16string received;
    for (const auto& chunk : rig.chunks)
        received += chunk;
    std::u16string expected;
    for (unsigned char c : sent)
        expected += static_cast<char16_t>(c);
    EXPECT_EQ(received, expected);
}

TEST(SerialPortRules, LoneLastCharacterIsHandedOverWhenTheLineFallsSilent) {
    PtyRig rig;
    rig.control->OpenComm();
    rig.write("=05.2100");
    ASSERT_TRUE(rig.runUntil([&] { return rig.control->getRawData() == u"=05.2100"; }));
    rig.write("0"); // below the receive threshold of 2, and nothing follows
    EXPECT_TRUE(rig.runUntil([&] { return !rig.displays.empty(); }));
    EXPECT_EQ(rig.displays, std::vector<std::u16string>{u"12.5"});
    EXPECT_EQ(rig.chunks.back(), u"0");
}

TEST(SerialPortRules, SilentOpenPortMakesNoWakeups) {
    PtyRig rig;
    rig.control->OpenComm();
    ASSERT_TRUE(rig.serial->portOpen());
    const uint64_t before = rig.loop.wakeups();
    rig.loop.runFor(std::chrono::milliseconds(300));
    // The only wake-up is the end of runFor itself.
    EXPECT_LE(rig.loop.wakeups() - before, 2u);
}

TEST(SerialPortRules, ThresholdZeroRaisesNoEventAndClosedPortRefusesInput) {
    PtyRig rig;
    rig.control->OpenComm();
    rig.serial->setRThreshold(0);
    rig.write("=05.21000");
    rig.loop.runFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(rig.chunks.empty());
    EXPECT_EQ(rig.serial->waiting(), 9u); // kept, not lost
    rig.control->CloseComm();
    EXPECT_FALSE(rig.serial->portOpen());
    try {
        rig.serial->input();
        ADD_FAILURE() << "input() on a closed port";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.number(), errors::kPortNotOpen);
    }
}

} // namespace
} // namespace tolvak::testing
