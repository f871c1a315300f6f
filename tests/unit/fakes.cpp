#include "fakes.h"

#include "control/method_table.h"
#include "control/utf8.h"

namespace tolvak::testing {

std::string utf8(std::u16string_view text) { return toUtf8(text); }

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
}

} // namespace tolvak::testing
