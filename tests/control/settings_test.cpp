// Defaults after creation and the thirteen set... methods.
#include <gtest/gtest.h>

#include "control/method_table.h"
#include "fakes.h"

namespace tolvak::testing {
namespace {

using Fields = std::map<std::string, std::string>;

const Fields kDefaults = {
    {"decimals", "0"},   {"eloadPrebits", "0"}, {"eloadBits", "8"}, {"bufferLength", "10"},
    {"newLineSep", "1"}, {"enterKeySep", "1"},  {"otherSep", "="},  {"reverseFrame", "1"},
    {"portNum", "1"},    {"baudRate", "2400"},  {"dataBits", "8"},  {"parity", "n"},
    {"stopBits", "1"},   {"commSettings", ""},  {"debugInfo", ""},  {"rawData", ""},
};

TEST(Defaults, AllThirteenSettingsAndEmptyTexts) {
    Harness h;
    EXPECT_EQ(fieldsOf(h.control->state()), kDefaults);
    EXPECT_EQ(h.control->getDebugInfo(), u"");
    EXPECT_EQ(h.control->getRawData(), u"");
}

TEST(Defaults, DisplayTimerAndPortAfterCreation) {
    Harness h;
    EXPECT_EQ(h.control->getTolvakValue(), u"8888888");
    EXPECT_TRUE(h.timer->enabled);
    EXPECT_EQ(h.timer->interval, 0); // an interval of 0 never ticks
    EXPECT_TRUE(h.serial->writes.empty()) << "creation must not touch the port";
    EXPECT_EQ(h.serial->portOpenReads, 0);
    EXPECT_TRUE(h.msgBox->boxes.empty());
}

// The Initialize handler goes through the method table: each default has to arrive through the
// row of its setter, with the argument kind that row declares.
TEST(Defaults, InitializeStepsMatchTheirTableRows) {
    struct Step {
        const char16_t* method;
        ArgType kind;
        const char* field;
        const char* value;
    };
    const Step steps[] = {
        {u"setDecimals", ArgType::Short, "decimals", "0"},
        {u"setEloadPrebits", ArgType::Short, "eloadPrebits", "0"},
        {u"setEloadbits", ArgType::Short, "eloadBits", "8"},
        {u"setBufferLength", ArgType::Short, "bufferLength", "10"},
        {u"setNewLineSepChar", ArgType::Short, "newLineSep", "1"},
        {u"setEnterkeySepChar", ArgType::Short, "enterKeySep", "1"},
        {u"setOtherSepChar", ArgType::Text, "otherSep", "="},
        {u"setIsReservChar", ArgType::Short, "reverseFrame", "1"},
        {u"setPortNum", ArgType::Short, "portNum", "1"},
        {u"setBandRate", ArgType::Text, "baudRate", "2400"},
        {u"setDataBit", ArgType::Short, "dataBits", "8"},
        {u"setParity", ArgType::Text, "parity", "n"},
        {u"setStopBit", ArgType::Short, "stopBits", "1"},
    };
    Harness h;
    for (const Step& step : steps) {
        SCOPED_TRACE(utf8(step.method));
        const MethodInfo* row = findMethod(step.method);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->argType, step.kind);
        EXPECT_EQ(fieldsOf(h.control->state()).at(step.field), step.value);
        // Invoking the row again with another value reaches the same field.
        Variant other =
            step.kind == ArgType::Text ? Variant{std::u16string(u"x")} : Variant{int16_t{77}};
        h.control->invoke(row->dispid, {other});
        EXPECT_EQ(fieldsOf(h.control->state()).at(step.field),
                  step.kind == ArgType::Text ? "x" : "77");
    }
}

struct SetterCase {
    const char16_t* method;
    Variant argument;
    const char* field;
    const char* stored;
};

const SetterCase kSetterCases[] = {
    {u"setDecimals", int16_t{-3}, "decimals", "-3"},
    {u"setDecimals", int16_t{2}, "decimals", "2"},
    {u"setEloadPrebits", int16_t{4}, "eloadPrebits", "4"},
    {u"setEloadPrebits", int16_t{-32768}, "eloadPrebits", "-32768"},
    {u"setEloadbits", int16_t{0}, "eloadBits", "0"},
    {u"setEloadbits", int16_t{32767}, "eloadBits", "32767"},
    {u"setBufferLength", int16_t{1024}, "bufferLength", "1024"},
    {u"setBufferLength", int16_t{-1}, "bufferLength", "-1"},
    {u"setNewLineSepChar", int16_t{2}, "newLineSep", "2"},
    {u"setNewLineSepChar", int16_t{0}, "newLineSep", "0"},
    {u"setEnterkeySepChar", int16_t{-1}, "enterKeySep", "-1"},
    {u"setOtherSepChar", std::u16string(u""), "otherSep", ""},
    {u"setOtherSepChar", std::u16string(u"#*"), "otherSep", "#*"},
    {u"setIsReservChar", int16_t{0}, "reverseFrame", "0"},
    {u"setIsReservChar", int16_t{2}, "reverseFrame", "2"},
    {u"setPortNum", int16_t{0}, "portNum", "0"},
    {u"setPortNum", int16_t{17}, "portNum", "17"},
    {u"setBandRate", std::u16string(u"9600 "), "baudRate", "9600 "},
    {u"setBandRate", std::u16string(u"abc"), "baudRate", "abc"},
    {u"setBandRate", std::u16string(u""), "baudRate", ""},
    {u"setDataBit", int16_t{7}, "dataBits", "7"},
    {u"setParity", std::u16string(u"N"), "parity", "N"},
    {u"setParity", std::u16string(u" e "), "parity", " e "},
    {u"setStopBit", int16_t{-1}, "stopBits", "-1"},
    {u"setStopBit", int16_t{2}, "stopBits", "2"},
};

// Applies one case through the direct C++ method.
void callDirect(Tolvak& c, const SetterCase& s) {
    const std::u16string name = s.method;
    auto shortArg = [&] { return std::get<int16_t>(s.argument); };
    auto textArg = [&] { return std::get<std::u16string>(s.argument); };
    if (name == u"setDecimals")
        c.setDecimals(shortArg());
    else if (name == u"setEloadPrebits")
        c.setEloadPrebits(shortArg());
    else if (name == u"setEloadbits")
        c.setEloadbits(shortArg());
    else if (name == u"setBufferLength")
        c.setBufferLength(shortArg());
    else if (name == u"setNewLineSepChar")
        c.setNewLineSepChar(shortArg());
    else if (name == u"setEnterkeySepChar")
        c.setEnterkeySepChar(shortArg());
    else if (name == u"setOtherSepChar")
        c.setOtherSepChar(textArg());
    else if (name == u"setIsReservChar")
        c.setIsReservChar(shortArg());
    else if (name == u"setPortNum")
        c.setPortNum(shortArg());
    else if (name == u"setBandRate")
        c.setBandRate(textArg());
    else if (name == u"setDataBit")
        c.setDataBit(shortArg());
    else if (name == u"setParity")
        c.setParity(textArg());
    else if (name == u"setStopBit")
        c.setStopBit(shortArg());
    else
        FAIL() << "no such setter";
}

void expectOnlyFieldChanged(const Fields& before, const Fields& after, const SetterCase& s) {
    for (const auto& [field, value] : before) {
        if (field == s.field)
            EXPECT_EQ(after.at(field), s.stored) << field;
        else
            EXPECT_EQ(after.at(field), value) << field << " must not change";
    }
}

TEST(Setters, EachStoresExactlyItsFieldDirectly) {
    for (const SetterCase& s : kSetterCases) {
        SCOPED_TRACE(utf8(s.method) + " -> " + s.stored);
        Harness h;
        h.serial->receive(u"AB"); // rawData and the texts hold something a setter could disturb
        Fields before = fieldsOf(h.control->state());
        auto eventsBefore = h.surface.events;
        auto writesBefore = h.serial->writes;
        callDirect(*h.control, s);
        expectOnlyFieldChanged(before, fieldsOf(h.control->state()), s);
        EXPECT_EQ(h.surface.events, eventsBefore);
        EXPECT_EQ(h.serial->writes, writesBefore);
        EXPECT_TRUE(h.timer->log.size() == 2) << "only the creation's two timer writes";
        EXPECT_TRUE(h.msgBox->boxes.empty());
    }
}

TEST(Setters, EachStoresExactlyItsFieldThroughInvokeAndReturnsEmpty) {
    for (const SetterCase& s : kSetterCases) {
        SCOPED_TRACE(utf8(s.method) + " -> " + s.stored);
        Harness h;
        Fields before = fieldsOf(h.control->state());
        std::vector<Variant> args{s.argument};
        Variant result = h.call(s.method, args);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
        EXPECT_EQ(args[0], s.argument) << "the caller's variable stays as it was";
        expectOnlyFieldChanged(before, fieldsOf(h.control->state()), s);
    }
}

TEST(Setters, TextArgumentIsCopiedNotShared) {
    Harness h;
    std::u16string sep = u"#";
    h.control->setOtherSepChar(sep);
    sep += u"changed";
    EXPECT_EQ(h.control->state().otherSep, u"#");
}

TEST(Setters, ChangingPortNumWhileOpenLeavesThePortAlone) {
    Harness h;
    h.control->OpenComm();
    h.serial->writes.clear();
    h.control->setPortNum(5);
    EXPECT_TRUE(h.serial->writes.empty());
    EXPECT_TRUE(h.serial->open);
}

TEST(Setters, ArgumentsAreCoercedTheWayAutomationDoes) {
    struct Case {
        const char16_t* method;
        Variant argument;
        const char* field;
        const char* stored;
    };
    const Case cases[] = {
        {u"setDecimals", std::u16string(u"5"), "decimals", "5"},
        {u"setDecimals", std::u16string(u" -2 "), "decimals", "-2"},
        {u"setPortNum", std::u16string(u"2.5"), "portNum", "2"}, // half to even
        {u"setPortNum", std::u16string(u"3.5"), "portNum", "4"},
        {u"setBandRate", int16_t{9600}, "baudRate", "9600"},
        {u"setParity", int16_t{-1}, "parity", "-1"},
        {u"setDataBit", Variant{}, "dataBits", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.method));
        Harness h;
        h.call(c.method, {c.argument});
        EXPECT_EQ(fieldsOf(h.control->state()).at(c.field), c.stored);
    }
}

TEST(Setters, UncoercibleArgumentsFailAndStoreNothing) {
    struct Case {
        const char16_t* method;
        Variant argument;
        int32_t number;
    };
    const Case cases[] = {
        {u"setDecimals", std::u16string(u"abc"), 13},
        {u"setDecimals", std::u16string(u""), 13},
        {u"setPortNum", std::u16string(u"40000"), 6},
        {u"setPortNum", std::u16string(u"-32769"), 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.method));
        Harness h;
        Fields before = fieldsOf(h.control->state());
        auto error = trapErrors([&] { h.call(c.method, {c.argument}); });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), c.number);
        EXPECT_EQ(fieldsOf(h.control->state()), before);
    }
}

TEST(Setters, DebugInfoStaysEmptyWhateverTheHostDoes) {
    Harness h;
    h.control->OpenComm();
    h.serial->receive(u"=05.21000=05.2");
    h.control->setDecimals(3);
    h.control->RndStart();
    h.timer->tick();
    h.control->RndEnd();
    h.control->CloseComm();
    EXPECT_EQ(h.control->getDebugInfo(), u"");
    EXPECT_EQ(std::get<std::u16string>(h.call(u"getDebugInfo")), u"");
}

} // namespace
} // namespace tolvak::testing
