#include "fakes.h"

#include "control/method_table.h"
#include "text/utf8.h"

namespace tolvak::testing {

std::string utf8(std::u16string_view text) {
    return toUtf8(text);
}

std::string RecordingSurface::name(ChildId id) {
    return utf8(SurfaceModel().child(id).name);
}

std::vector<std::string> RecordingSurface::textsOf(ChildId id) const {
    std::string prefix = "text:" + name(id) + "=";
    std::vector<std::string> out;
    for (const std::string& e : events)
        if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
    return out;
}

Harness::Harness() {
    Platform platform;
    auto s = std::make_unique<ScriptedSerial>();
    auto t = std::make_unique<RecordingTimer>();
    auto m = std::make_unique<RecordingMsgBox>();
    auto k = std::make_unique<FakeSockets>();
    auto r = std::make_unique<FixedRandom>();
    serial = s.get();
    timer = t.get();
    msgBox = m.get();
    sockets = k.get();
    random = r.get();
    platform.serial = std::move(s);
    platform.timer = std::move(t);
    platform.msgBox = std::move(m);
    platform.sockets = std::move(k);
    platform.random = std::move(r);
    control = std::make_unique<Tolvak>(std::move(platform));
    control->surface().setObserver(&surface);
    serial->journal.entries = &journal;
    surface.journal.entries = &journal;
}

Variant Harness::call(std::u16string_view name, const std::vector<Variant>& args) {
    const MethodInfo* method = findMethod(name);
    if (!method) throw errors::memberNotFound();
    return control->invoke(method->dispid, args);
}

std::map<std::string, std::string> fieldsOf(const ControlState& s) {
    return {
        {"decimals", std::to_string(s.decimals)},
        {"eloadPrebits", std::to_string(s.eloadPrebits)},
        {"eloadBits", std::to_string(s.eloadBits)},
        {"bufferLength", std::to_string(s.bufferLength)},
        {"newLineSep", std::to_string(s.newLineSep)},
        {"enterKeySep", std::to_string(s.enterKeySep)},
        {"otherSep", utf8(s.otherSep)},
        {"reverseFrame", std::to_string(s.reverseFrame)},
        {"portNum", std::to_string(s.portNum)},
        {"baudRate", utf8(s.baudRate)},
        {"dataBits", std::to_string(s.dataBits)},
        {"parity", utf8(s.parity)},
        {"stopBits", std::to_string(s.stopBits)},
        {"commSettings", utf8(s.commSettings)},
        {"debugInfo", utf8(s.debugInfo)},
        {"rawData", utf8(s.rawData)},
    };
}

} // namespace tolvak::testing
