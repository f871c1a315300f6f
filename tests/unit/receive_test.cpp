// The receive handler (MSComm1's OnComm event) and the accessors that read what it leaves.
#include <gtest/gtest.h>

#include "acquisition/frame_parser.h"
#include "fakes.h"

namespace tolvak::testing {
namespace {

std::u16string receiveErrorText(const std::u16string& number, const std::u16string& description) {
    return u"接收数据出错，错误代码：" + number + u"错误信息：" + description;
}

TEST(Receive, OrderOfEffects) {
    Harness h;
    h.control->OpenComm();
    h.journal.clear();
    h.serial->receive(u"=05.21000=");
    const std::vector<std::string> expected = {
        "read:CommEvent",
        "read:Input",
        "text:OutPutChar==05.21000=",
        "refresh:OutPutChar",
        "text:lblNumber=12.5",
        "refresh:lblNumber",
        "RThreshold=2",
        "text:OutMsg==05.21000=",
        "refresh:OutMsg",
    };
    EXPECT_EQ(h.journal, expected);
}

TEST(Receive, KeepsCharactersThatArriveWhileItRuns) {
    Harness h;
    h.control->OpenComm();
    h.serial->onInput = [&] { h.serial->waiting += u"05.2"; }; // arrives right after the read
    h.serial->receive(u"=05.21000=");
    h.serial->onInput = nullptr;
    EXPECT_EQ(h.serial->waiting, u"05.2") << "the handler must not empty the receive buffer";
    h.serial->receive(u"1000=");
    EXPECT_EQ(h.displayWrites(), (std::vector<std::string>{"12.5", "12.5"}));
    EXPECT_EQ(h.control->getRawData(), u"=");
}

TEST(Receive, NeverWritesInBufferCount) {
    Harness h;
    h.control->OpenComm();
    h.serial->writes.clear();
    h.serial->receive(u"=05.21000=05.2");
    h.serial->receive(u"1000=");
    for (const std::string& w : h.serial->writes)
        EXPECT_EQ(w, "RThreshold=2");
    EXPECT_EQ(h.serial->writes.size(), 2u);
}

TEST(Receive, TwoChunksWithoutSeparatorAccumulate) {
    Harness h;
    h.control->OpenComm();
    h.serial->receive(u"AB");
    h.serial->receive(u"CD");
    EXPECT_EQ(h.control->getRawData(), u"ABCD");
    EXPECT_EQ(h.control->surface().text(ChildId::OutPutChar), u"ABCD");
    EXPECT_EQ(h.control->surface().text(ChildId::OutMsg), u"CD");
}

TEST(Receive, FirstEventAfterOpenCommMakesRawDataItsChunk) {
    Harness h;
    h.serial->receive(u"old");
    h.control->OpenComm();
    h.serial->receive(u"12345");
    EXPECT_EQ(h.control->getRawData(), u"12345");
}

TEST(Receive, EventsOtherThanReceiveChangeNothing) {
    for (int16_t kind :
         {int16_t{0}, int16_t{1}, int16_t{3}, int16_t{-2}, int16_t{1001}, int16_t{1010}}) {
        SCOPED_TRACE(kind);
        Harness h;
        h.control->OpenComm();
        h.serial->receive(u"=05.21000=05.2");
        auto fields = fieldsOf(h.control->state());
        auto events = h.surface.events;
        auto writes = h.serial->writes;
        int reads = h.serial->inputReads;
        h.serial->waiting = u"1000=";
        h.serial->raise(kind);
        EXPECT_EQ(fieldsOf(h.control->state()), fields);
        EXPECT_EQ(h.surface.events, events);
        EXPECT_EQ(h.serial->writes, writes);
        EXPECT_EQ(h.serial->inputReads, reads) << "Input must not be read";
        EXPECT_EQ(h.serial->waiting, u"1000=");
    }
}

TEST(Receive, EmptyInputStillRunsTheParserAndEmptiesOutMsg) {
    Harness h;
    h.control->setOtherSepChar(u"");
    h.control->OpenComm();
    h.serial->receive(u"05.21000=");
    ASSERT_EQ(h.control->getRawData(), u"05.21000=");
    ASSERT_TRUE(h.displayWrites().empty());
    h.control->setOtherSepChar(u"=");
    h.serial->receive(u"");
    EXPECT_EQ(h.displayWrites(), std::vector<std::string>{"12.5"}) << "the parser ran";
    EXPECT_EQ(h.control->getRawData(), u"=");
    EXPECT_EQ(h.control->surface().text(ChildId::OutMsg), u"");
    EXPECT_EQ(h.control->surface().text(ChildId::OutPutChar), u"05.21000=");
}

struct ReceiveFailure {
    const char* where;
    const char* op;
    int after;
    int32_t number;
    const char16_t* description;
    const char16_t* shownNumber;
    const char16_t* rawAfter;
    std::vector<std::string> displayAfter;
};

TEST(Receive, FailuresPutTheErrorTextInOutMsg) {
    const char16_t* chunk = u"05.21000=15.21000=05.2";
    const ReceiveFailure cases[] = {
        {"serial", "CommEvent", 0, 8012, u"Port not open", u"8012", u"=", {}},
        {"serial", "Input", 0, 8012, u"Port not open", u"8012", u"=", {}},
        {"surface",
         "text:OutPutChar",
         0,
         7,
         u"Out of memory",
         u"7",
         u"=05.21000=15.21000=05.2",
         {}},
        {"surface",
         "refresh:OutPutChar",
         0,
         5,
         u"Invalid procedure call or argument",
         u"5",
         u"=05.21000=15.21000=05.2",
         {}},
        // The parser fails on its second frame: the first stays shown, rawData is as the pass
        // found it.
        {"surface",
         "text:lblNumber",
         1,
         380,
         u"Invalid property value",
         u"380",
         u"=05.21000=15.21000=05.2",
         {"12.5"}},
        {"surface",
         "refresh:lblNumber",
         0,
         -2147418113,
         u"Catastrophic failure",
         u"-2147418113",
         u"=05.21000=15.21000=05.2",
         {"12.5"}},
        {"serial", "RThreshold", 0, 8012, u"Port not open", u"8012", u"=05.2", {"12.5", "12.51"}},
        {"surface", "text:OutMsg", 0, 7, u"Out of memory", u"7", u"=05.2", {"12.5", "12.51"}},
    };
    for (const ReceiveFailure& c : cases) {
        SCOPED_TRACE(c.op);
        Harness h;
        h.control->OpenComm();
        h.serial->receive(u"=");
        ASSERT_EQ(h.control->getRawData(), u"=");
        h.serial->writes.clear();
        h.surface.events.clear();
        if (std::string(c.where) == "serial")
            h.serial->failNext(c.op, c.number, c.description, c.after);
        else
            h.surface.failNext(c.op, c.number, c.description, c.after);

        EXPECT_NO_THROW(h.serial->receive(chunk));

        EXPECT_EQ(h.control->getRawData(), c.rawAfter);
        EXPECT_EQ(h.displayWrites(), c.displayAfter);
        std::u16string expectedMsg = std::string(c.op) == "text:OutMsg"
                                         ? u"=" // the text box refuses the error text too
                                         : receiveErrorText(c.shownNumber, c.description);
        EXPECT_EQ(h.control->surface().text(ChildId::OutMsg), expectedMsg);
        for (const std::string& e : h.surface.events)
            EXPECT_NE(e, "refresh:OutMsg");
        // Only a refused OutMsg text comes after the RThreshold write.
        std::vector<std::string> writes;
        if (std::string(c.op) == "text:OutMsg") writes.push_back("RThreshold=2");
        EXPECT_EQ(h.serial->writes, writes);
        EXPECT_TRUE(h.msgBox->boxes.empty());
    }
}

// Every error the handler reports also leaves the control through its error sink, once per event,
// even when OutMsg refuses the error text; a run without error sends nothing.
TEST(Receive, ReportedErrorsGoToTheErrorSink) {
    Harness h;
    std::vector<std::pair<int32_t, std::u16string>> sunk;
    h.control->setReceiveErrorSink(
        [&](const AutomationError& e) { sunk.emplace_back(e.number(), e.description()); });
    h.control->OpenComm();
    const std::vector<std::pair<int32_t, std::u16string>> none;

    h.serial->receive(u"=05.21000=05.2");
    EXPECT_EQ(sunk, none);

    h.control->setDecimals(400);
    h.serial->receive(u"1000=05.21000=");
    EXPECT_EQ(sunk, (decltype(sunk){{6, u"Overflow"}})) << "two frames fail, one report";
    EXPECT_EQ(h.control->surface().text(ChildId::OutMsg), receiveErrorText(u"6", u"Overflow"));

    h.control->setDecimals(0);
    h.serial->failNext("Input", 8012, u"Port not open");
    h.surface.failNext("text:OutMsg", 7, u"Out of memory");
    h.serial->receive(u"x");
    EXPECT_EQ(sunk, (decltype(sunk){{6, u"Overflow"}, {8012, u"Port not open"}}));
}

TEST(Receive, ParserFailureSkipsTheLaterPasses) {
    Harness h;
    h.control->OpenComm();
    h.surface.failNext("refresh:lblNumber", 380, u"Invalid property value");
    h.serial->receive(u"05.21000\n05.2=");
    // The line-feed pass failed on its first frame; the "=" pass, which would have shown "0" for
    // the piece "05.21000\n05.2", never ran.
    EXPECT_EQ(h.displayWrites(), std::vector<std::string>{"12.5"});
    EXPECT_EQ(h.control->getRawData(), u"05.21000\n05.2=");
    EXPECT_EQ(h.control->surface().text(ChildId::OutMsg),
              receiveErrorText(u"380", u"Invalid property value"));
    h.surface.clear("refresh:lblNumber");
    h.surface.events.clear();
    h.serial->receive(u"");
    EXPECT_EQ(h.displayWrites(), std::vector<std::string>{"12.5"}) << "nothing was lost";
    EXPECT_EQ(h.control->getRawData(), u"=");
}

TEST(Receive, MinimumLengthOverflowIsReported) {
    struct Case {
        int16_t bits, prebits;
    };
    for (Case c : {Case{32767, 1}, Case{-32768, -1}, Case{20000, 20000}}) {
        SCOPED_TRACE(std::to_string(c.bits) + "+" + std::to_string(c.prebits));
        Harness h;
        h.control->setEloadbits(c.bits);
        h.control->setEloadPrebits(c.prebits);
        h.control->OpenComm();
        h.serial->receive(u"05.21000=05.2");
        EXPECT_EQ(h.control->surface().text(ChildId::OutMsg), receiveErrorText(u"6", u"Overflow"));
        EXPECT_EQ(h.control->getRawData(), u"05.21000=05.2");
        EXPECT_TRUE(h.displayWrites().empty());
    }
}

TEST(Receive, MinimumLengthAtTheEdgeOfTheRangeIsNoError) {
    Harness h;
    h.control->setEloadbits(32767);
    h.control->setEloadPrebits(0);
    h.control->OpenComm();
    h.serial->receive(u"05.21000=05.2");
    EXPECT_EQ(h.control->surface().text(ChildId::OutMsg), u"05.21000=05.2");
    EXPECT_EQ(h.control->getRawData(), u"=05.2");
}

TEST(Receive, RawDataKeepsOnlyItsNewestCharacters) {
    Harness h;
    h.control->OpenComm();
    std::u16string stream;
    for (int i = 0; i < 700; ++i)
        stream += u"ABCDEFG" + std::u16string(1, char16_t(u'a' + i % 26));
    h.serial->receive(stream.substr(0, 3000));
    EXPECT_EQ(h.control->getRawData(), stream.substr(0, 3000));
    h.serial->receive(stream.substr(3000));
    ASSERT_EQ(h.control->getRawData().size(), kRawDataLimit);
    EXPECT_EQ(h.control->getRawData(), stream.substr(stream.size() - kRawDataLimit));
    EXPECT_EQ(h.control->surface().text(ChildId::OutPutChar), stream) << "shown before the cut";
}

TEST(Receive, RawDataIsCappedAlsoWhenTheHandlerFails) {
    Harness h;
    h.control->OpenComm();
    h.serial->failNext("RThreshold", 8012, u"Port not open");
    std::u16string chunk(5000, u'x');
    h.serial->receive(chunk);
    EXPECT_EQ(h.control->getRawData(), std::u16string(kRawDataLimit, u'x'));
    EXPECT_EQ(h.control->surface().text(ChildId::OutMsg),
              receiveErrorText(u"8012", u"Port not open"));
}

TEST(Receive, LargeChunkIsDecodedWhole) {
    Harness h;
    h.control->OpenComm();
    std::u16string chunk;
    std::vector<std::string> expected;
    h.control->setDecimals(1);
    for (int i = 0; i < 1000; ++i) {
        // Eight digits of i, one implied decimal, sent last digit first.
        std::string frame = std::to_string(i);
        frame.insert(0, 8 - frame.size(), '0');
        chunk += std::u16string(frame.rbegin(), frame.rend()) + u"=";
        std::string shown = std::to_string(i / 10);
        if (i % 10) shown += "." + std::to_string(i % 10);
        expected.push_back(shown);
    }
    ASSERT_GT(chunk.size(), kRawDataLimit);
    h.serial->receive(chunk);
    EXPECT_EQ(h.displayWrites(), expected);
    EXPECT_EQ(h.control->getRawData(), u"=");
}

TEST(Accessors, ReturnDisplayRawDataAndDebugInfo) {
    Harness h;
    EXPECT_EQ(std::get<std::u16string>(h.call(u"getTolvakValue")), u"8888888");
    EXPECT_EQ(std::get<std::u16string>(h.call(u"getRawData")), u"");
    h.control->OpenComm();
    h.serial->receive(u"=05.2100-=05.2");
    EXPECT_EQ(h.control->getTolvakValue(), u"-12.5");
    EXPECT_EQ(std::get<std::u16string>(h.call(u"getTolvakValue")), u"-12.5");
    EXPECT_EQ(std::get<std::u16string>(h.call(u"getRawData")), u"=05.2");
    EXPECT_EQ(std::get<std::u16string>(h.call(u"getDebugInfo")), u"");
    h.control->CloseComm();
    EXPECT_EQ(h.control->getTolvakValue(), u"-12.5") << "closing keeps the display";
    EXPECT_EQ(h.control->getRawData(), u"=05.2");
    h.control->OpenComm();
    EXPECT_EQ(h.control->getTolvakValue(), u"-12.5") << "opening keeps the display";
    EXPECT_EQ(h.control->getRawData(), u"");
}

} // namespace
} // namespace tolvak::testing
