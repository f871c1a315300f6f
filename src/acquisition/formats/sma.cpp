// The scale manufacturers' standard reply and stream: LF, then status (Z centre of zero, O over,
// U under, E/I/T errors, blank), range digit, G/N/T (g/n high resolution), M or blank for
// motion, a reserved byte, the weight in 10 characters, the unit in 3, CR.
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

class SmaDecoder : public LinesDecoder {
  public:
    explicit SmaDecoder(const Settings& s) : m_places(s.decimals) {}

  private:
    Frame decodeLine(std::string raw) override {
        Frame frame;
        frame.raw = std::move(raw);
        const std::string_view text = body(frame.raw);
        const std::string_view states = " ZOUEIT", modes = "GNTgn", motion = " M";
        if (text.size() < 15 || text.size() > 18 ||
            states.find(text[0]) == std::string_view::npos || text[1] < '1' || text[1] > '9' ||
            modes.find(text[2]) == std::string_view::npos ||
            motion.find(text[3]) == std::string_view::npos) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        const char mode = static_cast<char>(std::toupper(static_cast<unsigned char>(text[2])));
        frame.mode = mode == 'G'   ? WeightMode::Gross
                     : mode == 'N' ? WeightMode::Net
                                   : WeightMode::Tare;
        frame.stable = text[3] == ' ';
        std::string_view unit = text.substr(15);
        frame.unit = std::string(unit.substr(0, unit.find(' ')));
        if (text[0] == 'O' || text[0] == 'U') {
            frame.range = text[0] == 'O' ? Range::Overload : Range::Underload;
            frame.stable = false;
            frame.text = "OL";
            return frame;
        }
        // The errors show dashes for the weight.
        auto n = parseNumber(text.substr(5, 10), m_places);
        if (!n) {
            frame.status = std::string_view("EIT").find(text[0]) != std::string_view::npos
                               ? Frame::Status::NoWeight
                               : Frame::Status::Malformed;
            return frame;
        }
        frame.text = n->text;
        frame.value = n->value;
        return frame;
    }

    int m_places;
};

std::string encode(const Sample& s) {
    const bool out = s.range != Range::InRange;
    std::string n = out ? std::string("-----") : paddedNumber(s.weight, s.places, 0);
    if (!out && s.weight < 0) n.insert(0, 1, '-');
    if (n.size() > 10 || s.unit.size() > 3)
        throw std::out_of_range("weight does not fit the frame");
    const char status = s.range == Range::Overload    ? 'O'
                        : s.range == Range::Underload ? 'U'
                        : !out && s.weight == 0       ? 'Z'
                                                      : ' ';
    const char mode = s.mode == WeightMode::Net ? 'N' : s.mode == WeightMode::Tare ? 'T' : 'G';
    return std::string("\n") + status + '1' + mode + (s.stable && !out ? ' ' : 'M') + ' ' +
           std::string(10 - n.size(), ' ') + n + s.unit + std::string(3 - s.unit.size(), ' ') +
           "\r";
}

} // namespace

const Format& smaFormat() {
    static const Format format{
        "sma",
        "the scale manufacturers' standard: LF, status Z/O/U/E/T, range, G/N/T, M (motion), "
        "reserved, 10-character weight, 3-character unit, CR; poll with LF W CR or stream",
        "\n 1G       5.025lb \r",
        [](const Settings& s) -> std::unique_ptr<Decoder> {
            return std::make_unique<SmaDecoder>(s);
        },
        encode,
        {"\nZ\r", "\nT\r", "\nW\r", "\nW\r"},
        kUsesDecimals,
    };
    return format;
}

} // namespace tolvak::formats
