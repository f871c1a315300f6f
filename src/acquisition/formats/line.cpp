// The text family: display-order lines and continuous streams whose frames hold a weight among
// words ("  -12.50 kg", "   0.360 kg   ?G", STX "   120.4KGM" CR LF, CR "+031460.  lb g  " ETX),
// ending in CR, LF, CR LF or ETX; the variant with two hex digits of XOR after the frame.
#include <cctype>
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

class TextDecoder : public LinesDecoder {
  public:
    enum class Kind { Line, Stream, Checksum };
    TextDecoder(const Settings& s, Kind kind) : m_places(s.decimals), m_kind(kind) {}

  private:
    Frame decodeLine(std::string raw) override {
        Frame frame;
        frame.raw = std::move(raw);
        std::string_view text = body(frame.raw);
        // A stream's frames are led by STX or closed by ETX; a plain line is not one.
        if (m_kind == Kind::Stream && frame.raw.front() != StxDecoder::kStx &&
            frame.raw.back() != 0x03) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        if (m_kind == Kind::Checksum) {
            // Two hex digits after the unit: the XOR of every character before them.
            if (text.size() < 3 ||
                !std::isalpha(static_cast<unsigned char>(text[text.size() - 3]))) {
                frame.status = Frame::Status::Malformed;
                return frame;
            }
            const std::string sum = xorHex(text.substr(0, text.size() - 2));
            std::string sent(text.substr(text.size() - 2));
            for (char& c : sent)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (sent != sum) {
                frame.status = Frame::Status::BadChecksum;
                return frame;
            }
            text.remove_suffix(2);
        }
        decodeWords(text, m_places, frame, m_kind == Kind::Stream);
        return frame;
    }

    int m_places;
    Kind m_kind;
};

std::string number(const Sample& s, size_t width) {
    // Blanks in front, the sign next to the digits, as displays show it.
    std::string n = paddedNumber(s.weight, s.places, 0);
    if (s.weight < 0) n.insert(0, 1, '-');
    if (n.size() > width) throw std::out_of_range("weight does not fit the frame");
    return std::string(width - n.size(), ' ') + n;
}

std::string encodeLine(const Sample& s) {
    return number(s, 9) + " " + s.unit + "\r\n";
}

// The letter codes: K/L/G/T/O for the unit, G/N, M in motion, O out of range.
std::string encodeStream(const Sample& s) {
    const char unit = s.unit == "lb"   ? 'L'
                      : s.unit == "g"  ? 'G'
                      : s.unit == "t"  ? 'T'
                      : s.unit == "oz" ? 'O'
                                       : 'K';
    const std::string weight = s.range != Range::InRange
                                   ? std::string(s.range == Range::Underload ? "-" : " ") + "999999"
                                   : number(s, 7);
    return "\x02" + weight + unit + (s.mode == WeightMode::Net ? 'N' : 'G') +
           (s.range != Range::InRange ? 'O'
            : s.stable                ? ' '
                                      : 'M') +
           "\r\n";
}

// A label, the gross/net letter, the weight, the unit, then the XOR of all that in hex.
std::string encodeChecksum(const Sample& s) {
    std::string body = std::string("W") + (s.mode == WeightMode::Net ? 'N' : 'G') +
                       paddedNumber(s.weight, s.places, 7) + s.unit;
    if (s.weight < 0) body.insert(2, "-");
    return body + xorHex(body) + "\r\n";
}

template <TextDecoder::Kind kind> std::unique_ptr<Decoder> makeText(const Settings& s) {
    return std::make_unique<TextDecoder>(s, kind);
}

} // namespace

const Format& lineFormat() {
    static const Format format{
        "line",
        "text lines and streams: a weight among words, with sign, point or comma, unit, and "
        "status words and letters (ST/US/OL, GS/NT, G/N, ?, M) anywhere; CR, LF or ETX ends a "
        "frame, STX may start one",
        "    12.50 kg\r\n",
        makeText<TextDecoder::Kind::Line>,
        encodeLine,
        {},
        kUsesDecimals,
    };
    return format;
}

const Format& streamFormat() {
    static const Format format{
        "stream",
        "continuous STX streams: sign, weight, unit letter K/L/G/T/O, G/N, M (motion) or O "
        "(over); CR LF; or led by CR and closed by ETX (read like line)",
        "\x02   120.4KGM\r\n",
        makeText<TextDecoder::Kind::Stream>,
        encodeStream,
        {},
        kUsesDecimals,
    };
    return format;
}

const Format& lineChecksumFormat() {
    static const Format format{
        "line-xor",
        "a text line followed by two hex digits, the XOR of the characters before them: "
        "WG004.139kg3D",
        "WG004.139kg3D\r\n",
        makeText<TextDecoder::Kind::Checksum>,
        encodeChecksum,
        {},
        kUsesDecimals,
    };
    return format;
}

} // namespace tolvak::formats
