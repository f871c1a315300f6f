// The automation interface: every row of the method table, and dispatch by DISPID and by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "control/method_table.h"
#include "fakes.h"

namespace tolvak::testing {
namespace {

struct Row {
    const char16_t* name;
    int32_t dispid;
    int position;
    ArgType arg;
    const char16_t* param;
    ResultType result;
};

constexpr ArgType N = ArgType::None, S = ArgType::Short, T = ArgType::Text;
constexpr ResultType RN = ResultType::None, RT = ResultType::Text, RV = ResultType::Variant;

// The interface as hosts were built against it, in type-library order.
const Row kInterface[] = {
    {u"getLocalHostName", 0x6003003A, 1, N, u"", RT},
    {u"GetLocalIPAddress", 0x6003003B, 2, N, u"", RT},
    {u"getLocalMacAddress", 0x6003003C, 3, N, u"", RT},
    {u"setWinFontSize", 0x6003003D, 4, S, u"winFontSize", RV},
    {u"setWinWidth", 0x6003003E, 5, S, u"winWidth", RV},
    {u"setWinHeight", 0x6003003F, 6, S, u"winHeight", RV},
    {u"RndStart", 0x60030042, 7, N, u"", RN},
    {u"RndEnd", 0x60030043, 8, N, u"", RN},
    {u"setDecimals", 0x60030044, 9, S, u"lcDecimals", RV},
    {u"setEloadPrebits", 0x60030045, 10, S, u"lcEloadprebits", RV},
    {u"setEloadbits", 0x60030046, 11, S, u"lcEloadbits", RV},
    {u"setBufferLength", 0x60030047, 12, S, u"lcBufferLength", RV},
    {u"setNewLineSepChar", 0x60030048, 13, S, u"lcNewLineSepChar", RV},
    {u"setEnterkeySepChar", 0x60030049, 14, S, u"lcEnterkeySepChar", RV},
    {u"setOtherSepChar", 0x6003004A, 15, T, u"lcOtherSepChar", RV},
    {u"setIsReservChar", 0x6003004B, 16, S, u"lcIsReservChar", RV},
    {u"setPortNum", 0x6003004C, 17, S, u"lcPortNum", RV},
    {u"setBandRate", 0x6003004D, 18, T, u"lcBandRate", RV},
    {u"setDataBit", 0x6003004E, 19, S, u"lcDataBit", RV},
    {u"setParity", 0x6003004F, 20, T, u"lcParity", RV},
    {u"setStopBit", 0x60030050, 21, S, u"lcStopBit", RV},
    {u"getTolvakValue", 0x60030051, 22, N, u"", RT},
    {u"getDebugInfo", 0x60030052, 23, N, u"", RT},
    {u"getRawData", 0x6003005A, 26, N, u"", RT},
    {u"OpenComm", 0x60030053, 24, N, u"", RN},
    {u"CloseComm", 0x60030054, 25, N, u"", RN},
};

TEST(MethodTable, EveryRowMatchesTheInterface) {
    ASSERT_EQ(kMethodTable.size(), std::size(kInterface));
    for (size_t i = 0; i < kMethodTable.size(); ++i) {
        const MethodInfo& m = kMethodTable[i];
        const Row& r = kInterface[i];
        SCOPED_TRACE(utf8(r.name));
        EXPECT_EQ(m.name, r.name);
        EXPECT_EQ(m.dispid, r.dispid);
        EXPECT_EQ(m.vtablePosition, r.position);
        EXPECT_EQ(m.argType, r.arg);
        EXPECT_EQ(m.paramName, r.param);
        EXPECT_EQ(m.result, r.result);
        EXPECT_NE(m.call, nullptr);
    }
}

TEST(MethodTable, GetRawDataIs24thInTableOrderButLastInTheVtable) {
    EXPECT_EQ(kMethodTable[23].name, u"getRawData");
    EXPECT_EQ(kMethodTable[23].vtablePosition, 26);
    std::vector<std::u16string_view> byPosition(26);
    for (const MethodInfo& m : kMethodTable) {
        ASSERT_GE(m.vtablePosition, 1);
        ASSERT_LE(m.vtablePosition, 26);
        ASSERT_TRUE(byPosition[m.vtablePosition - 1].empty()) << "position used twice";
        byPosition[m.vtablePosition - 1] = m.name;
    }
    EXPECT_EQ(byPosition[23], u"OpenComm");
    EXPECT_EQ(byPosition[24], u"CloseComm");
    EXPECT_EQ(byPosition[25], u"getRawData");
}

TEST(MethodTable, FindByDispidAndByNameInAnyCase) {
    for (const Row& r : kInterface) {
        SCOPED_TRACE(utf8(r.name));
        const MethodInfo* byId = findMethod(r.dispid);
        ASSERT_NE(byId, nullptr);
        EXPECT_EQ(byId->name, r.name);
        std::u16string upper = r.name, lower = r.name;
        for (char16_t& c : upper)
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        for (char16_t& c : lower)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        EXPECT_EQ(findMethod(std::u16string_view(r.name)), byId);
        EXPECT_EQ(findMethod(std::u16string_view(upper)), byId);
        EXPECT_EQ(findMethod(std::u16string_view(lower)), byId);
    }
}

TEST(MethodTable, UnknownDispidsAndNamesAreRefused) {
    std::set<int32_t> known;
    for (const Row& r : kInterface)
        known.insert(r.dispid);
    for (int32_t id = 0x60030030; id <= 0x60030060; ++id) {
        if (known.count(id)) continue;
        SCOPED_TRACE(id);
        EXPECT_EQ(findMethod(id), nullptr);
        Harness h;
        auto error = trapErrors([&] { h.control->invoke(id, {}); });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), 438);
    }
    for (int32_t id : {0, -1, 1, 0x6003003A + 0x10000})
        EXPECT_EQ(findMethod(id), nullptr);
    for (const char16_t* name : {u"", u"getRawDat", u"getRawDataX", u"set Decimals", u"setBaudRate",
                                 u"setEloadBits2", u"Initialize", u"dispatchFrames"})
        EXPECT_EQ(findMethod(std::u16string_view(name)), nullptr) << utf8(name);
}

TEST(MethodTable, WrongArgumentCountIsRefused) {
    for (const Row& r : kInterface) {
        SCOPED_TRACE(utf8(r.name));
        Harness h;
        auto fields = fieldsOf(h.control->state());
        std::vector<Variant> wrong =
            r.arg == N ? std::vector<Variant>{int16_t{1}} : std::vector<Variant>{};
        for (const auto& args : {wrong, std::vector<Variant>{int16_t{1}, int16_t{2}}}) {
            auto error = trapErrors([&] { h.control->invoke(r.dispid, args); });
            ASSERT_TRUE(error) << "no error";
            EXPECT_EQ(error->number(), 450);
        }
        EXPECT_EQ(fieldsOf(h.control->state()), fields);
        EXPECT_TRUE(h.serial->writes.empty());
        EXPECT_TRUE(h.sockets->log.empty());
    }
}

// Invoking each DISPID must reach its own method: each probe sees an effect only that method has.
TEST(MethodTable, EachDispidReachesItsMethod) {
    struct Probe {
        const char16_t* name;
        std::vector<Variant> args;
        std::function<void(Harness&, const Variant&)> check;
    };
    auto text = [](const Variant& v) { return std::get<std::u16string>(v); };
    auto field = [](Harness& h, const char* f) { return fieldsOf(h.control->state()).at(f); };
    const Probe probes[] = {
        {u"getLocalHostName",
         {},
         [&](Harness&, const Variant& v) { EXPECT_EQ(text(v), u"scalehouse"); }},
        {u"GetLocalIPAddress",
         {},
         [&](Harness&, const Variant& v) { EXPECT_EQ(text(v), u"192.168.0.5"); }},
        {u"getLocalMacAddress",
         {},
         [&](Harness&, const Variant& v) { EXPECT_EQ(text(v), u"00-1A-2B-05-00-FF"); }},
        {u"setWinFontSize",
         {int16_t{11}},
         [](Harness& h, const Variant&) {
             EXPECT_EQ(h.control->surface().child(ChildId::lblNumber).font->size, 11);
         }},
        {u"setWinWidth",
         {int16_t{111}},
         [](Harness& h, const Variant&) {
             EXPECT_EQ(h.control->surface().child(ChildId::lblNumber).width, 111);
         }},
        {u"setWinHeight",
         {int16_t{222}},
         [](Harness& h, const Variant&) {
             EXPECT_EQ(h.control->surface().child(ChildId::lblNumber).height, 222);
         }},
        {u"RndStart", {}, [](Harness& h, const Variant&) { EXPECT_EQ(h.timer->interval, 2000); }},
        {u"RndEnd",
         {},
         [](Harness& h, const Variant&) {
             EXPECT_EQ(h.timer->log.back(), "Interval=0");
             EXPECT_FALSE(h.timer->enabled);
         }},
        {u"setDecimals",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "decimals"), "-7"); }},
        {u"setEloadPrebits",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "eloadPrebits"), "-7"); }},
        {u"setEloadbits",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "eloadBits"), "-7"); }},
        {u"setBufferLength",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "bufferLength"), "-7"); }},
        {u"setNewLineSepChar",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "newLineSep"), "-7"); }},
        {u"setEnterkeySepChar",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "enterKeySep"), "-7"); }},
        {u"setOtherSepChar",
         {std::u16string(u"#")},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "otherSep"), "#"); }},
        {u"setIsReservChar",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "reverseFrame"), "-7"); }},
        {u"setPortNum",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "portNum"), "-7"); }},
        {u"setBandRate",
         {std::u16string(u"#")},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "baudRate"), "#"); }},
        {u"setDataBit",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "dataBits"), "-7"); }},
        {u"setParity",
         {std::u16string(u"#")},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "parity"), "#"); }},
        {u"setStopBit",
         {int16_t{-7}},
         [&](Harness& h, const Variant&) { EXPECT_EQ(field(h, "stopBits"), "-7"); }},
        {u"getTolvakValue",
         {},
         [&](Harness&, const Variant& v) { EXPECT_EQ(text(v), u"8888888"); }},
        {u"getDebugInfo", {}, [&](Harness&, const Variant& v) { EXPECT_EQ(text(v), u""); }},
        {u"getRawData", {}, [&](Harness&, const Variant& v) { EXPECT_EQ(text(v), u"=05.2"); }},
        {u"OpenComm", {}, [](Harness& h, const Variant&) { EXPECT_TRUE(h.serial->open); }},
        {u"CloseComm",
         {},
         [](Harness& h, const Variant&) {
             EXPECT_EQ(h.serial->writes, std::vector<std::string>{"PortOpen=false"});
         }},
    };
    ASSERT_EQ(std::size(probes), std::size(kInterface));
    for (size_t i = 0; i < std::size(probes); ++i) {
        const Probe& p = probes[i];
        SCOPED_TRACE(utf8(p.name));
        ASSERT_EQ(std::u16string(p.name), kInterface[i].name);
        Harness h;
        h.serial->receive(u"=05.2"); // something for getRawData to return
        h.serial->writes.clear();
        h.serial->open = std::u16string(p.name) == u"CloseComm";
        auto before = fieldsOf(h.control->state());
        std::vector<Variant> args = p.args;
        Variant result = h.control->invoke(kInterface[i].dispid, args);
        EXPECT_EQ(args, p.args) << "arguments are left unchanged";
        EXPECT_EQ(std::holds_alternative<std::u16string>(result), kInterface[i].result == RT);
        EXPECT_EQ(std::holds_alternative<std::monostate>(result), kInterface[i].result != RT);
        p.check(h, result);
    }
}

} // namespace
} // namespace tolvak::testing
