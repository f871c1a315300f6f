#include "tolvak/replay.h"

#include <ostream>
#include <utility>

#include "control/tolvak.h"
#include "control/utf8.h"
#include "platform/posix/console_msg_box.h"
#include "platform/posix/posix_sockets.h"
#include "tolvak/control_options.h"
#include "tolvak/text_format.h"

namespace tolvak::cli {

namespace {

// Replay has no clock: Timer1 never ticks.
class IdleTimer : public TimerControl {
public:
    void setEnabled(bool) override {}
    void setInterval(int32_t) override {}
};

class DisplayPrinter : public SurfaceObserver {
public:
    explicit DisplayPrinter(std::ostream& out) : m_out(out) {}
    void textChanged(ChildId id, std::u16string_view text) override {
        if (id == ChildId::lblNumber) m_out << "display " << toUtf8(text) << '\n';
    }

private:
    std::ostream& m_out;
};

} // namespace

void ReplaySerial::feed(std::u16string chunk) {
    m_waiting = std::move(chunk);
    m_event = kEventReceive;
    raiseOnComm();
    m_event = 0;
}

void replayBytes(const std::string& bytes, size_t chunkSize, const ParsedArgs& options,
                 std::ostream& out) {
    auto serial = std::make_unique<ReplaySerial>();
    ReplaySerial& port = *serial;
    Platform platform{std::move(serial), std::make_unique<IdleTimer>(),
                      std::make_unique<posix::ConsoleMsgBox>(),
                      std::make_unique<posix::PosixSockets>(), std::make_unique<ClockRandom>()};
    Tolvak control(std::move(platform));
    applyControlOptions(options, control, nullptr);
    DisplayPrinter printer(out);
    control.surface().setObserver(&printer);
    const size_t step = chunkSize == 0 ? bytes.size() : chunkSize;
    for (size_t at = 0; at < bytes.size(); at += step) {
        port.feed(bytesToText(std::string_view(bytes).substr(at, step)));
        out << "raw " << jsonString(control.getRawData()) << '\n';
    }
    control.surface().setObserver(nullptr);
}

} // namespace tolvak::cli
