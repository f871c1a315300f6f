#include "control/method_table.h"

#include "control/tolvak.h"
#include "text/ascii_case.h"

namespace tolvak {

namespace {

template <void (Tolvak::*M)(int16_t)> Variant shortSetter(Tolvak& c, const Variant* a) {
    (c.*M)(toShort(*a));
    return {};
}

template <void (Tolvak::*M)(const std::u16string&)>
Variant textSetter(Tolvak& c, const Variant* a) {
    (c.*M)(toText(*a));
    return {};
}

template <std::u16string (Tolvak::*M)()> Variant getter(Tolvak& c, const Variant*) {
    return (c.*M)();
}

template <std::u16string (Tolvak::*M)() const> Variant constGetter(Tolvak& c, const Variant*) {
    return (c.*M)();
}

template <void (Tolvak::*M)()> Variant action(Tolvak& c, const Variant*) {
    (c.*M)();
    return {};
}

constexpr auto N = ArgType::None;
constexpr auto S = ArgType::Short;
constexpr auto T = ArgType::Text;
constexpr auto RN = ResultType::None;
constexpr auto RT = ResultType::Text;
constexpr auto RV = ResultType::Variant;

} // namespace

const std::array<MethodInfo, kMethodCount> kMethodTable = {{
    {u"getLocalHostName", 0x6003003A, 1, N, {}, RT, getter<&Tolvak::getLocalHostName>},
    {u"GetLocalIPAddress", 0x6003003B, 2, N, {}, RT, getter<&Tolvak::GetLocalIPAddress>},
    {u"getLocalMacAddress", 0x6003003C, 3, N, {}, RT, getter<&Tolvak::getLocalMacAddress>},
    {u"setWinFontSize", 0x6003003D, 4, S, u"winFontSize", RV, shortSetter<&Tolvak::setWinFontSize>},
    {u"setWinWidth", 0x6003003E, 5, S, u"winWidth", RV, shortSetter<&Tolvak::setWinWidth>},
    {u"setWinHeight", 0x6003003F, 6, S, u"winHeight", RV, shortSetter<&Tolvak::setWinHeight>},
    {u"RndStart", 0x60030042, 7, N, {}, RN, action<&Tolvak::RndStart>},
    {u"RndEnd", 0x60030043, 8, N, {}, RN, action<&Tolvak::RndEnd>},
    {u"setDecimals", 0x60030044, 9, S, u"lcDecimals", RV, shortSetter<&Tolvak::setDecimals>},
    {u"setEloadPrebits", 0x60030045, 10, S, u"lcEloadprebits", RV,
     shortSetter<&Tolvak::setEloadPrebits>},
    {u"setEloadbits", 0x60030046, 11, S, u"lcEloadbits", RV, shortSetter<&Tolvak::setEloadbits>},
    {u"setBufferLength", 0x60030047, 12, S, u"lcBufferLength", RV,
     shortSetter<&Tolvak::setBufferLength>},
    {u"setNewLineSepChar", 0x60030048, 13, S, u"lcNewLineSepChar", RV,
     shortSetter<&Tolvak::setNewLineSepChar>},
    {u"setEnterkeySepChar", 0x60030049, 14, S, u"lcEnterkeySepChar", RV,
     shortSetter<&Tolvak::setEnterkeySepChar>},
    {u"setOtherSepChar", 0x6003004A, 15, T, u"lcOtherSepChar", RV,
     textSetter<&Tolvak::setOtherSepChar>},
    {u"setIsReservChar", 0x6003004B, 16, S, u"lcIsReservChar", RV,
     shortSetter<&Tolvak::setIsReservChar>},
    {u"setPortNum", 0x6003004C, 17, S, u"lcPortNum", RV, shortSetter<&Tolvak::setPortNum>},
    {u"setBandRate", 0x6003004D, 18, T, u"lcBandRate", RV, textSetter<&Tolvak::setBandRate>},
    {u"setDataBit", 0x6003004E, 19, S, u"lcDataBit", RV, shortSetter<&Tolvak::setDataBit>},
    {u"setParity", 0x6003004F, 20, T, u"lcParity", RV, textSetter<&Tolvak::setParity>},
    {u"setStopBit", 0x60030050, 21, S, u"lcStopBit", RV, shortSetter<&Tolvak::setStopBit>},
    {u"getTolvakValue", 0x60030051, 22, N, {}, RT, constGetter<&Tolvak::getTolvakValue>},
    {u"getDebugInfo", 0x60030052, 23, N, {}, RT, constGetter<&Tolvak::getDebugInfo>},
    {u"getRawData", 0x6003005A, 26, N, {}, RT, constGetter<&Tolvak::getRawData>},
    {u"OpenComm", 0x60030053, 24, N, {}, RN, action<&Tolvak::OpenComm>},
    {u"CloseComm", 0x60030054, 25, N, {}, RN, action<&Tolvak::CloseComm>},
}};

const MethodInfo* findMethod(int32_t dispid) {
    for (const MethodInfo& m : kMethodTable)
        if (m.dispid == dispid) return &m;
    return nullptr;
}

const MethodInfo* findMethod(std::u16string_view name) {
    for (const MethodInfo& m : kMethodTable)
        if (equalsIgnoringCase(m.name, name)) return &m;
    return nullptr;
}

} // namespace tolvak
