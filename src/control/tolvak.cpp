#include "control/tolvak.h"

#include "control/method_table.h"
#include "network/network_module.h"

namespace tolvak {

Tolvak::Tolvak(Platform platform) : m_platform(std::move(platform)) {
    // Design-time state of the two invisible children.
    timer().setEnabled(true);
    timer().setInterval(0);
    serial().setOnCommHandler([this] { onComm(); });
    timer().setTickHandler([this] { onTimer(); });
    initialize();
}

// The Initialize handler: the defaults go in through the control's own interface, as a host's
// calls would.
void Tolvak::initialize() {
    const std::pair<const char16_t*, Variant> defaults[] = {
        {u"setDecimals", int16_t{0}},       {u"setEloadPrebits", int16_t{0}},
        {u"setEloadbits", int16_t{8}},      {u"setBufferLength", int16_t{10}},
        {u"setNewLineSepChar", int16_t{1}}, {u"setEnterkeySepChar", int16_t{1}},
        {u"setOtherSepChar", u"="},         {u"setIsReservChar", int16_t{1}},
        {u"setPortNum", int16_t{1}},        {u"setBandRate", u"2400"},
        {u"setDataBit", int16_t{8}},        {u"setParity", u"n"},
        {u"setStopBit", int16_t{1}},
    };
    for (const auto& [name, value] : defaults) invoke(findMethod(name)->dispid, {value});
}

Variant Tolvak::invoke(int32_t dispid, const std::vector<Variant>& args) {
    const MethodInfo* method = findMethod(dispid);
    if (!method) throw errors::memberNotFound();
    size_t expected = method->argType == ArgType::None ? 0 : 1;
    if (args.size() != expected) throw errors::wrongArgumentCount();
    return method->call(*this, args.empty() ? nullptr : &args[0]);
}

void Tolvak::setDecimals(int16_t v) { m_state.decimals = v; }
void Tolvak::setEloadPrebits(int16_t v) { m_state.eloadPrebits = v; }
void Tolvak::setEloadbits(int16_t v) { m_state.eloadBits = v; }
void Tolvak::setBufferLength(int16_t v) { m_state.bufferLength = v; }
void Tolvak::setNewLineSepChar(int16_t v) { m_state.newLineSep = v; }
void Tolvak::setEnterkeySepChar(int16_t v) { m_state.enterKeySep = v; }
void Tolvak::setOtherSepChar(const std::u16string& v) { m_state.otherSep = v; }
void Tolvak::setIsReservChar(int16_t v) { m_state.reverseFrame = v; }
void Tolvak::setPortNum(int16_t v) { m_state.portNum = v; }
void Tolvak::setBandRate(const std::u16string& v) { m_state.baudRate = v; }
void Tolvak::setDataBit(int16_t v) { m_state.dataBits = v; }
void Tolvak::setParity(const std::u16string& v) { m_state.parity = v; }
void Tolvak::setStopBit(int16_t v) { m_state.stopBits = v; }

std::u16string Tolvak::getTolvakValue() const { return m_surface.text(ChildId::lblNumber); }
std::u16string Tolvak::getDebugInfo() const { return m_state.debugInfo; }
std::u16string Tolvak::getRawData() const { return m_state.rawData; }

std::u16string Tolvak::getLocalHostName() {
    return NetworkModule(*m_platform.sockets, *m_platform.msgBox).getLocalHostName();
}

std::u16string Tolvak::GetLocalIPAddress() {
    return NetworkModule(*m_platform.sockets, *m_platform.msgBox).lookupLocalIPAddress();
}

std::u16string Tolvak::getLocalMacAddress() {
    return NetworkModule(*m_platform.sockets, *m_platform.msgBox).getLocalMacAddress();
}

void Tolvak::clickStartPortBtn() { invoke(findMethod(u"OpenComm")->dispid, {}); }
void Tolvak::clickStopPortBtn() { invoke(findMethod(u"CloseComm")->dispid, {}); }

void Tolvak::writeProperties(PropertyBag& bag, const FontDesc& ambientFont) {
    auto offer = [&bag](const char16_t* name, const PropertyValue& value,
                        const PropertyValue& defaultValue) {
        if (!(value == defaultValue)) bag.write(name, value);
    };
    const ChildModel& display = m_surface.child(ChildId::lblNumber);
    offer(u"backstyle", int16_t{0}, int16_t{0});
    offer(u"Font", display.font.value_or(ambientFont), ambientFont);
    offer(u"ForeColor", display.foreColor, colors::kWindowText);
    offer(u"Width", display.width, display.width);
    offer(u"Height", display.height, display.height);
}

} // namespace tolvak
