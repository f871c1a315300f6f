// The receive handler: MSComm1's OnComm event.
#include "acquisition/frame_parser.h"
#include "control/tolvak.h"
#include "text/number_text.h"

namespace tolvak {

void Tolvak::onComm() {
    auto error = trapErrors([&] {
        if (serial().commEvent() != SerialControl::kEventReceive) return;
        std::u16string chunk = serial().input();
        if (m_inputSink) m_inputSink(chunk.size());
        m_state.rawData += chunk;
        m_surface.setText(ChildId::OutPutChar, m_state.rawData);
        m_surface.refresh(ChildId::OutPutChar);
        dispatchFrames();
        // The receive buffer is not cleared here: characters that arrived during this run are
        // the next event's, not garbage.
        serial().setRThreshold(kReceiveThreshold);
        m_surface.setText(ChildId::OutMsg, chunk);
        m_surface.refresh(ChildId::OutMsg);
    });
    capRawData(m_state.rawData);
    if (error && error->number() != 0) {
        std::u16string text = u"接收数据出错，错误代码：";
        text += decimalText(error->number());
        text += u"错误信息：";
        text += error->description();
        // The text box may refuse this too; the serial component gets no error back either way.
        trapErrors([&] { m_surface.setText(ChildId::OutMsg, text); });
        if (m_receiveErrorSink) m_receiveErrorSink(*error);
    }
}

// One pass per enabled separator: line feed, carriage return, otherSep, in that order.
void Tolvak::dispatchFrames() {
    if (m_state.newLineSep == 1) framePass(u"\n");
    if (m_state.enterKeySep == 1) framePass(u"\r");
    if (!m_state.otherSep.empty()) framePass(m_state.otherSep);
}

// Shows every complete frame of rawData and keeps only an unfinished last piece. A frame that
// cannot be decoded is consumed like any other: left in rawData it would fail again at every
// event and hold up every frame behind it. The display keeps its text for it, and the first such
// error is raised once the pass is done. An error of the display, or a minimum length beyond 16
// bits, ends the pass where it happens and leaves rawData as it was.
void Tolvak::framePass(std::u16string_view separator) {
    m_frames.clear();
    const size_t used =
        splitFrames(m_state.rawData, separator, m_state.eloadBits, m_state.eloadPrebits, m_frames);
    if (m_frames.empty() && used == 0) return; // no separator: nothing to show or to drop
    m_decoder.reset(m_state.decimals, m_state.reverseFrame);
    std::optional<AutomationError> undecoded;
    for (std::u16string_view frame : m_frames) {
        if (auto error = trapErrors([&] { m_decoder.decode(frame, m_shown); })) {
            if (!undecoded) undecoded = std::move(error);
            continue;
        }
        m_surface.setText(ChildId::lblNumber, m_shown.text);
        m_surface.refresh(ChildId::lblNumber);
        m_currentFrame = frame;
        if (m_readingSink) m_readingSink(m_shown.text, m_shown.value);
        m_currentFrame = {};
    }
    m_state.rawData.erase(0, used);
    if (undecoded) throw *undecoded;
}

} // namespace tolvak
