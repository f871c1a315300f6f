// Display-order lines: "  -12.50 kg" ending in CR, LF or CR LF, the most common continuous
// output of simple indicators and of printers' ports.
#include <cctype>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

// A line longer than this is noise, not a reading.
constexpr size_t kMaxLine = 64;

class LineDecoder : public Decoder {
  public:
    void feed(std::string_view bytes, std::vector<Frame>& out) override {
        for (char c : bytes) {
            if (c != '\r' && c != '\n') {
                if (m_line.size() == kMaxLine) {
                    m_skipped += m_line.size();
                    m_line.clear();
                }
                m_line += c;
                continue;
            }
            // CR LF ends one line; the empty line between the two is no frame.
            if (!m_line.empty()) out.push_back(decode(m_line + c));
            m_line.clear();
        }
    }

  private:
    static Frame decode(std::string raw) {
        Frame frame;
        frame.raw = std::move(raw);
        std::string_view body(frame.raw.data(), frame.raw.size() - 1);
        // The unit: the letters at the end.
        size_t end = body.size();
        while (end > 0 && body[end - 1] == ' ')
            --end;
        size_t unitStart = end;
        while (unitStart > 0 && std::isalpha(static_cast<unsigned char>(body[unitStart - 1])))
            --unitStart;
        auto number = parseNumber(body.substr(0, unitStart));
        if (!number && unitStart > 0 && body[unitStart - 1] == ' ')
            number = parseNumber(body.substr(0, unitStart - 1));
        if (!number || end - unitStart > 3) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        frame.text = number->text;
        frame.value = number->value;
        frame.unit = std::string(body.substr(unitStart, end - unitStart));
        return frame;
    }

    std::string m_line;
};

std::string encode(const Sample& s) {
    std::string sign = s.weight < 0 ? "-" : " ";
    std::string digits = paddedNumber(s.weight, s.places, 8);
    size_t first = digits.find_first_not_of('0');
    const size_t point = digits.find('.');
    if (first == std::string::npos || first >= (point == std::string::npos ? 7 : point - 1))
        first = point == std::string::npos ? 7 : point - 1;
    digits.replace(0, first, first, ' '); // leading blanks, as displays show them
    return sign + digits + " " + s.unit + "\r\n";
}

} // namespace

const Format& lineFormat() {
    static const Format format{
        "line",
        "display-order lines ending in CR, LF or CR LF: sign, point or comma, blanks, unit",
        "    12.50 kg\r\n",
        [](const Settings&) -> std::unique_ptr<Decoder> { return std::make_unique<LineDecoder>(); },
        encode,
        {},
    };
    return format;
}

} // namespace tolvak::formats
