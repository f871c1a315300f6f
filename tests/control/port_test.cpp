// OpenComm and CloseComm: the settings text, what is written to the serial component, and what
// the user sees when a step fails.
#include <gtest/gtest.h>

#include "fakes.h"

namespace tolvak::testing {
namespace {

const std::u16string kOpenFailure =
    u"打开串口时出错，请检查串口是否存在及设置正确，是否有其他程序占用此串口";
const std::u16string kCloseFailure = u"关闭串口时出错";
const std::u16string kNotice = u"提示";

std::u16string portErrorPrompt(const std::u16string& first, const std::u16string& number,
                               const std::u16string& description) {
    return first + u"\r错误代码：" + number + u"\r错误信息：" + description;
}

TEST(SettingsText, DefaultsGiveTheFourteenCharacterText) {
    Harness h;
    h.control->OpenComm();
    EXPECT_EQ(h.control->state().commSettings, u" 2400,n, 8 , 1");
    EXPECT_EQ(h.control->state().commSettings.size(), 14u);
}

TEST(SettingsText, BuiltFromTheStoredSettings) {
    struct Case {
        const char16_t* baud;
        const char16_t* parity;
        int16_t dataBits;
        int16_t stopBits;
        const char16_t* text;
    };
    const Case cases[] = {
        {u"9600", u"n", 8, 1, u" 9600,n, 8 , 1"},     {u" 9600 ", u"n", 8, 1, u" 9600,n, 8 , 1"},
        {u"2400", u"", 8, 1, u" 2400,, 8 , 1"},       {u"2400", u"N", 8, 1, u" 2400,N, 8 , 1"},
        {u"2400", u" e ", 8, 1, u" 2400, e , 8 , 1"}, {u"2400", u"n", 8, -1, u" 2400,n, 8 ,-1"},
        {u"2400", u"n", 7, 2, u" 2400,n, 7 , 2"},     {u"2400", u"n", -8, 0, u" 2400,n,-8 , 0"},
        {u"115200", u"o", 8, 1, u" 115200,o, 8 , 1"}, {u"-300", u"n", 8, 1, u"-300,n, 8 , 1"},
        {u"9600.5", u"n", 8, 1, u" 9600.5,n, 8 , 1"}, {u"1e3", u"n", 8, 1, u" 1000,n, 8 , 1"},
        {u"09600", u"n", 8, 1, u" 9600,n, 8 , 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.text));
        Harness h;
        h.control->setBandRate(c.baud);
        h.control->setParity(c.parity);
        h.control->setDataBit(c.dataBits);
        h.control->setStopBit(c.stopBits);
        h.control->OpenComm();
        EXPECT_TRUE(h.msgBox->boxes.empty());
        EXPECT_EQ(h.control->state().commSettings, c.text);
        ASSERT_GE(h.serial->writes.size(), 2u);
        EXPECT_EQ(h.serial->writes[1], "Settings=" + utf8(c.text));
    }
}

TEST(OpenComm, WritesThePortPropertiesInOrderThenOpensAndRepaints) {
    Harness h;
    h.control->setPortNum(3);
    h.control->setBufferLength(64);
    h.control->OpenComm();
    const std::vector<std::string> expected = {
        "CommPort=3",      "Settings= 2400,n, 8 , 1",
        "InBufferCount=0", "InBufferSize=64",
        "InputLen=0",      "RThreshold=2",
        "read:PortOpen",   "PortOpen=true",
        "refresh:surface",
    };
    EXPECT_EQ(h.journal, expected);
    EXPECT_TRUE(h.serial->open);
    EXPECT_TRUE(h.msgBox->boxes.empty());
}

TEST(OpenComm, SecondCallOnAnOpenPortDoesNotWritePortOpen) {
    Harness h;
    h.control->OpenComm();
    h.journal.clear();
    h.control->OpenComm();
    const std::vector<std::string> expected = {
        "CommPort=1",      "Settings= 2400,n, 8 , 1",
        "InBufferCount=0", "InBufferSize=10",
        "InputLen=0",      "RThreshold=2",
        "read:PortOpen",   "refresh:surface",
    };
    EXPECT_EQ(h.journal, expected);
    EXPECT_TRUE(h.serial->open);
}

TEST(OpenComm, DiscardsTextReceivedBefore) {
    Harness h;
    h.serial->receive(u"=05.2");
    h.serial->waiting = u"stale"; // still in the component's buffer
    ASSERT_EQ(h.control->getRawData(), u"=05.2");
    h.control->OpenComm();
    EXPECT_EQ(h.control->getRawData(), u"");
    EXPECT_EQ(h.serial->waiting, u"") << "InBufferCount=0 discards what waits";
    h.serial->receive(u"05.21000=");
    EXPECT_EQ(h.control->getRawData(), u"=");
    EXPECT_EQ(h.control->getTolvakValue(), u"12.5");
}

TEST(OpenComm, LeavesTimer1Alone) {
    Harness h;
    h.control->RndStart();
    h.timer->log.clear();
    h.control->OpenComm();
    EXPECT_TRUE(h.timer->log.empty());
    EXPECT_TRUE(h.timer->enabled);
    EXPECT_EQ(h.timer->interval, 2000);
}

TEST(OpenComm, LeavesTheDisplayAlone) {
    Harness h;
    h.control->OpenComm();
    h.control->CloseComm();
    EXPECT_EQ(h.control->getTolvakValue(), u"8888888");
    EXPECT_TRUE(h.displayWrites().empty());
}

struct OpenFailure {
    const char* where; // "serial" or "surface"
    const char* op;
    int32_t number;
    const char16_t* description;
    const char16_t* shownNumber;
    std::vector<std::string> writes; // what reached the component
};

TEST(OpenComm, EachFailingStepShowsTheBoxAndKeepsWhatWasDone) {
    const std::vector<std::string> all = {"CommPort=1",      "Settings= 2400,n, 8 , 1",
                                          "InBufferCount=0", "InBufferSize=10",
                                          "InputLen=0",      "RThreshold=2"};
    auto upTo = [&](size_t n) { return std::vector<std::string>(all.begin(), all.begin() + n); };
    std::vector<std::string> opened = all;
    opened.push_back("PortOpen=true");
    const OpenFailure cases[] = {
        {"serial", "CommPort", 8002, u"Invalid Port Number", u"8002", upTo(0)},
        {"serial", "Settings", 380, u"Invalid property value", u"380", upTo(1)},
        {"serial", "InBufferCount", 8012, u"Port not open", u"8012", upTo(2)},
        {"serial", "InBufferSize", 380, u"Invalid property value", u"380", upTo(3)},
        {"serial", "InputLen", 8015, u"Could not set comm state", u"8015", upTo(4)},
        {"serial", "RThreshold", -2147467259, u"Automation error", u"-2147467259", upTo(5)},
        {"serial", "PortOpen.get", 8010, u"Port not available", u"8010", upTo(6)},
        {"serial", "PortOpen", 8005, u"Port already open", u"8005", upTo(6)},
        {"surface", "refresh:surface", 5, u"Invalid procedure call or argument", u"5", opened},
    };
    for (const OpenFailure& c : cases) {
        SCOPED_TRACE(c.op);
        Harness h;
        h.serial->receive(u"=05.2"); // something in rawData before the call
        h.serial->writes.clear();
        h.surface.events.clear();
        if (std::string(c.where) == "serial")
            h.serial->failNext(c.op, c.number, c.description);
        else
            h.surface.failNext(c.op, c.number, c.description);

        EXPECT_NO_THROW(h.control->OpenComm());

        ASSERT_EQ(h.msgBox->boxes.size(), 1u);
        EXPECT_EQ(h.msgBox->boxes[0].prompt,
                  portErrorPrompt(kOpenFailure, c.shownNumber, c.description));
        EXPECT_EQ(h.msgBox->boxes[0].flags, 48u);
        EXPECT_EQ(h.msgBox->boxes[0].title, kNotice);
        EXPECT_EQ(h.serial->writes, c.writes);
        EXPECT_EQ(h.control->state().commSettings, u" 2400,n, 8 , 1");
        EXPECT_EQ(h.control->getRawData(), u"");
        if (std::string(c.where) == "serial") {
            EXPECT_TRUE(h.surface.events.empty()) << "no repaint after a failure";
        }
        // Only a refused repaint comes after the port was opened.
        EXPECT_EQ(h.serial->open, std::string(c.where) == "surface");
    }
}

TEST(OpenComm, BaudRateThatIsNoNumberKeepsTheOldStateAndTouchesNothing) {
    for (const char16_t* baud : {u"abc", u"", u"   ", u"96 00", u"9,600", u"\t9600"}) {
        SCOPED_TRACE(utf8(baud));
        Harness h;
        h.control->setBandRate(u"4800");
        h.control->OpenComm();
        h.control->CloseComm();
        h.serial->receive(u"=05.2");
        h.serial->writes.clear();
        h.surface.events.clear();
        h.control->setBandRate(baud);

        h.control->OpenComm();

        ASSERT_EQ(h.msgBox->boxes.size(), 1u);
        EXPECT_EQ(h.msgBox->boxes[0].prompt,
                  portErrorPrompt(kOpenFailure, u"13", u"Type mismatch"));
        EXPECT_EQ(h.msgBox->boxes[0].flags, 48u);
        EXPECT_EQ(h.msgBox->boxes[0].title, kNotice);
        EXPECT_EQ(h.control->state().commSettings, u" 4800,n, 8 , 1");
        EXPECT_EQ(h.control->getRawData(), u"=05.2");
        EXPECT_TRUE(h.serial->writes.empty());
        EXPECT_TRUE(h.surface.events.empty());
    }
}

TEST(OpenComm, FailureThroughInvokeStillReturnsSuccess) {
    Harness h;
    h.serial->failNext("PortOpen", 8002, u"Invalid Port Number");
    Variant result;
    EXPECT_NO_THROW(result = h.call(u"OpenComm"));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
    EXPECT_EQ(h.msgBox->boxes.size(), 1u);
}

TEST(CloseComm, ClosesAnOpenPortAndDoesNothingOnAClosedOne) {
    struct Case {
        bool open;
        std::vector<std::string> journal;
    };
    const Case cases[] = {
        {true, {"read:PortOpen", "PortOpen=false"}},
        {false, {"read:PortOpen"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.open);
        Harness h;
        h.serial->open = c.open;
        h.serial->receive(u"=05.2");
        h.journal.clear();
        auto fields = fieldsOf(h.control->state());
        h.control->CloseComm();
        EXPECT_EQ(h.journal, c.journal);
        EXPECT_FALSE(h.serial->open);
        EXPECT_EQ(fieldsOf(h.control->state()), fields);
        EXPECT_TRUE(h.msgBox->boxes.empty());
    }
}

TEST(CloseComm, FailuresShowTheClosingBoxAndReturnSuccess) {
    struct Case {
        const char* op;
        int32_t number;
        const char16_t* description;
        const char16_t* shownNumber;
    };
    const Case cases[] = {
        {"PortOpen.get", 8012, u"Port not open", u"8012"},
        {"PortOpen", 8015, u"Could not set comm state", u"8015"},
        {"PortOpen", -1, u"Unknown", u"-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        Harness h;
        h.serial->open = true;
        h.serial->failNext(c.op, c.number, c.description);
        EXPECT_NO_THROW(h.call(u"CloseComm"));
        ASSERT_EQ(h.msgBox->boxes.size(), 1u);
        EXPECT_EQ(h.msgBox->boxes[0].prompt,
                  portErrorPrompt(kCloseFailure, c.shownNumber, c.description));
        EXPECT_EQ(h.msgBox->boxes[0].flags, 48u);
        EXPECT_EQ(h.msgBox->boxes[0].title, kNotice);
    }
}

TEST(PortButtons, ClicksGoThroughOpenCommAndCloseComm) {
    Harness h;
    h.control->clickStartPortBtn();
    EXPECT_TRUE(h.serial->open);
    EXPECT_EQ(h.control->state().commSettings, u" 2400,n, 8 , 1");
    EXPECT_EQ(h.serial->writes.back(), "PortOpen=true");
    h.control->clickStopPortBtn();
    EXPECT_FALSE(h.serial->open);
    EXPECT_EQ(h.serial->writes.back(), "PortOpen=false");
}

TEST(PortButtons, FailuresAreHandledByTheMethodsThemselves) {
    Harness h;
    h.serial->failNext("PortOpen", 8010, u"Port not available");
    EXPECT_NO_THROW(h.control->clickStartPortBtn());
    h.serial->open = true;
    EXPECT_NO_THROW(h.control->clickStopPortBtn());
    ASSERT_EQ(h.msgBox->boxes.size(), 2u);
    EXPECT_EQ(h.msgBox->boxes[0].prompt,
              portErrorPrompt(kOpenFailure, u"8010", u"Port not available"));
    EXPECT_EQ(h.msgBox->boxes[1].prompt,
              portErrorPrompt(kCloseFailure, u"8010", u"Port not available"));
}

} // namespace
} // namespace tolvak::testing
