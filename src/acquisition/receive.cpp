// The receive handler: MSComm1's OnComm event.
#include "acquisition/frame_parser.h"
#include "acquisition/number_text.h"
#include "control/tolvak.h"

namespace tolvak {

void Tolvak::onComm() {
    auto error = trapErrors([&] {
        if (serial().commEvent() != SerialControl::kEventReceive) return;
        std::u16string chunk = serial().input();
        m_state.rawData += chunk;
        m_surface.setText(ChildId::OutPutChar, m_state.rawData);
        m_surface.refresh(ChildId::OutPutChar);
        dispatchFrames(m_state, m_surface);
        // The receive buffer is not cleared here: characters that arrived during this run are
        // the next event's, not garbage.
        serial().setRThreshold(kReceiveThreshold);
        m_surface.setText(ChildId::OutMsg, chunk);
        m_surface.refresh(ChildId::OutMsg);
    });
    capRawData(m_state);
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

} // namespace tolvak
