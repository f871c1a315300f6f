// The control's own format: its frame parser, wrapped. Frames are cut and decoded exactly as
// the control's receive handler does it, one pass per enabled separator.
#include <stdexcept>

#include "acquisition/formats/format.h"
#include "acquisition/frame_parser.h"
#include "base/automation_error.h"
#include "text/line_text.h"
#include "text/utf8.h"

namespace tolvak::formats {

namespace {

class ControlDecoder : public Decoder {
  public:
    explicit ControlDecoder(const Settings& s)
        : m_settings(s), m_otherSeparator(lineText(s.otherSeparator)) {
        if (int{s.eloadBits} + int{s.eloadPrebits} > 32767)
            throw std::invalid_argument("the minimum frame length does not fit 16 bits");
    }

    void feed(std::string_view bytes, std::vector<Frame>& out) override {
        m_rawData += lineText(bytes);
        if (m_settings.newLineSeparates) pass(u"\n", out);
        if (m_settings.carriageReturnSeparates) pass(u"\r", out);
        if (!m_otherSeparator.empty()) pass(m_otherSeparator, out);
        const size_t before = m_rawData.size();
        capRawData(m_rawData);
        m_skipped += before - m_rawData.size();
    }

  private:
    void pass(std::u16string_view separator, std::vector<Frame>& out) {
        m_frames.clear();
        const size_t used = splitFrames(m_rawData, separator, m_settings.eloadBits,
                                        m_settings.eloadPrebits, m_frames);
        if (m_frames.empty() && used == 0) return;
        m_decoder.reset(m_settings.decimals, m_settings.reversed ? 1 : 0);
        for (std::u16string_view piece : m_frames) {
            Frame frame;
            frame.raw = lineBytes(piece);
            if (auto error = trapErrors([&] { m_decoder.decode(piece, m_shown); })) {
                frame.status = Frame::Status::Malformed;
            } else {
                frame.text = toUtf8(m_shown.text);
                frame.value = m_shown.value;
            }
            out.push_back(std::move(frame));
        }
        m_rawData.erase(0, used);
    }

    Settings m_settings;
    std::u16string m_otherSeparator;
    std::u16string m_rawData;
    std::vector<std::u16string_view> m_frames;
    FrameDecoder m_decoder;
    DecodedFrame m_shown;
};

} // namespace

const Format& controlFormat() {
    static const Format format{
        "control",
        "the control's own: frames between LF, CR or '=' separators, characters last first",
        "=000.3000",
        [](const Settings& s) -> std::unique_ptr<Decoder> {
            return std::make_unique<ControlDecoder>(s);
        },
        nullptr, // the simulator's own frames are this format
        {},
        kUsesDecimals | kUsesFraming,
    };
    return format;
}

} // namespace tolvak::formats
