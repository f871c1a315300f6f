#include "tolvak/replay.h"

#include <ostream>
#include <utility>

#include "control/tolvak.h"
#include "platform/posix/console_msg_box.h"
#include "text/line_text.h"
#include "text/utf8.h"
#include "tolvak/control_options.h"
#include "tolvak/text_format.h"
#include "tolvak/tool_platform.h"

namespace tolvak::cli {

Replayer::Replayer(const ParsedArgs& options, std::ostream& out) : m_out(out) {
    auto serial = std::make_unique<NullSerialControl>();
    m_port = serial.get();
    // Replay has no clock: Timer1 never ticks.
    Platform platform{std::move(serial), std::make_unique<NullTimer>(),
                      std::make_unique<posix::ConsoleMsgBox>(),
                      makeSockets(), std::make_unique<ClockRandom>()};
    m_control = std::make_unique<Tolvak>(std::move(platform));
    applyControlOptions(options, *m_control, nullptr);
    m_control->surface().setObserver(this);
}

Replayer::~Replayer() {
    m_control->surface().setObserver(nullptr);
}

void Replayer::textChanged(ChildId id, std::u16string_view text) {
    if (id == ChildId::lblNumber) m_out << "display " << toUtf8(text) << '\n';
}

void Replayer::feed(std::string_view chunk) {
    m_port->feed(lineText(chunk));
    m_out << "raw " << jsonString(m_control->getRawData()) << '\n';
}

void Replayer::feedAll(std::string_view bytes, size_t chunkSize) {
    const size_t step = chunkSize == 0 ? bytes.size() : chunkSize;
    for (size_t at = 0; at < bytes.size(); at += step)
        feed(bytes.substr(at, step));
}

} // namespace tolvak::cli
