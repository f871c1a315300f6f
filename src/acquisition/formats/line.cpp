// Display-order lines: "  -12.50 kg" ending in CR, LF or CR LF, the most common continuous
// output of simple indicators and of printers' ports.
#include <cctype>
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

class LineDecoder : public LinesDecoder {
  private:
    Frame decodeLine(std::string raw) override {
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
        if (!number || end - unitStart > 3) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        frame.text = number->text;
        frame.value = number->value;
        frame.unit = std::string(body.substr(unitStart, end - unitStart));
        return frame;
    }
};

std::string encode(const Sample& s) {
    // Blanks in front, the sign next to the digits, as displays show it.
    std::string number = paddedNumber(s.weight, s.places, 0);
    if (s.weight < 0) number.insert(0, 1, '-');
    if (number.size() > 9) throw std::out_of_range("weight does not fit the line");
    return std::string(9 - number.size(), ' ') + number + " " + s.unit + "\r\n";
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
