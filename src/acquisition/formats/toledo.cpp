// Toledo-style continuous output: STX, status bytes A, B and C, six weight digits, six tare
// digits, CR, and in the checksum variant one checksum byte. Bit 7 of a status byte is parity
// on 7-bit lines and is ignored; bit 5 is always set.
//   A: bits 0-2 where the point is: 0 → ×100, 1 → ×10, 2 → none, 3..7 → 1..5 decimals;
//      bits 3-4 the display increment (not used).
//   B: bit 0 net, bit 1 negative, bit 2 out of range, bit 3 in motion, bit 4 kg (else lb).
//   C: bits 0-2 the unit when not lb/kg: 1 g, 2 t, 3 oz; bit 3 print request.
//   Checksum: the two's complement of the 7-bit sum of STX through CR.
#include <cmath>
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

constexpr size_t kLength = 17; // without the checksum byte
constexpr char kCr = '\r';

char checksum(std::string_view bytes) {
    unsigned sum = 0;
    for (char c : bytes)
        sum += static_cast<unsigned char>(c);
    return static_cast<char>((0x80 - (sum & 0x7F)) & 0x7F);
}

class ToledoDecoder : public StxDecoder {
  public:
    explicit ToledoDecoder(bool withChecksum)
        : StxDecoder(kLength + (withChecksum ? 1 : 0), kLength - 1, kCr),
          m_withChecksum(withChecksum) {}

  private:
    Frame decodeFrame(std::string raw) override {
        Frame frame;
        frame.raw = std::move(raw);
        const std::string_view r = frame.raw;
        if (m_withChecksum && checksum(r.substr(0, kLength)) != (r[kLength] & 0x7F)) {
            frame.status = Frame::Status::BadChecksum;
            return frame;
        }
        const unsigned a = r[1] & 0x7F, b = r[2] & 0x7F, c = r[3] & 0x7F;
        const int point = static_cast<int>(a & 7);
        const bool negative = b & 2;
        auto weight = number(r.substr(4, 6), point, negative);
        auto tare = number(r.substr(10, 6), point, false);
        if (!(a & b & c & 0x20) || !weight || !tare) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        frame.text = weight->text;
        frame.value = weight->value;
        frame.tare = tare->value;
        frame.mode = b & 1 ? WeightMode::Net : WeightMode::Gross;
        frame.stable = !(b & 8);
        if (b & 4) frame.range = negative ? Range::Underload : Range::Overload;
        static const char* const kUnits[] = {nullptr, "g", "t", "oz"};
        const unsigned unit = c & 7;
        frame.unit = unit >= 1 && unit <= 3 ? kUnits[unit] : b & 0x10 ? "kg" : "lb";
        return frame;
    }

    // Point codes 0 and 1 stand for zeros the display shows after the digits.
    static std::optional<Number> number(std::string_view digits, int point, bool negative) {
        if (point >= 2) return scaledNumber(digits, point - 2, negative);
        auto n = scaledNumber(digits, 0, negative);
        if (n && n->value != 0) {
            n->text += point == 0 ? "00" : "0";
            n->value *= point == 0 ? 100 : 10;
        }
        return n;
    }

    bool m_withChecksum;
};

std::string encodeFrame(const Sample& s, bool withChecksum) {
    if (s.places < 0 || s.places > 5) throw std::out_of_range("0 to 5 decimals");
    const double scale = std::pow(10.0, s.places);
    const auto digits = [&](double v) {
        return paddedNumber(std::round(std::fabs(v) * scale), 0, 6);
    };
    const bool negative = s.range == Range::Underload || s.weight < 0;
    std::string frame(1, StxDecoder::kStx);
    frame += static_cast<char>(0x20 | 0x08 | (s.places + 2));
    frame += static_cast<char>(0x20 | (s.mode == WeightMode::Net ? 1 : 0) | (negative ? 2 : 0) |
                               (s.range != Range::InRange ? 4 : 0) | (s.stable ? 0 : 8) |
                               (s.unit == "lb" ? 0 : 0x10));
    frame += static_cast<char>(0x20);
    frame += s.range != Range::InRange ? std::string(6, '9') : digits(s.weight);
    frame += digits(s.tare);
    frame += kCr;
    if (withChecksum) frame += checksum(frame);
    return frame;
}

} // namespace

const Format& toledoFormat() {
    static const Format format{
        "toledo",
        "STX, status bytes A B C, 6 weight and 6 tare digits, CR (Toledo-style continuous)",
        "\x02"
        "40 001250000000\r",
        [](const Settings&) -> std::unique_ptr<Decoder> {
            return std::make_unique<ToledoDecoder>(false);
        },
        [](const Sample& s) { return encodeFrame(s, false); },
        {"Z", "T", "P", ""},
        0,
    };
    return format;
}

const Format& toledoChecksumFormat() {
    static const Format format{
        "toledo-checksum",
        "the toledo frame followed by a checksum byte (7-bit two's complement of the sum)",
        "\x02"
        "40 001250000000\r%",
        [](const Settings&) -> std::unique_ptr<Decoder> {
            return std::make_unique<ToledoDecoder>(true);
        },
        [](const Sample& s) { return encodeFrame(s, true); },
        {"Z", "T", "P", ""},
        0,
    };
    return format;
}

} // namespace tolvak::formats
