// STX, a sign, six digits, the number of decimals as one digit, the XOR of those eight
// characters as two hex digits (high nibble first), ETX.
#include <cmath>
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

constexpr size_t kLength = 12;
constexpr char kEtx = 0x03;

char upper(char c) {
    return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
}

class StxEtxDecoder : public StxDecoder {
  public:
    StxEtxDecoder() : StxDecoder(kLength, kLength - 1, kEtx) {}

  private:
    Frame decodeFrame(std::string raw) override {
        Frame frame;
        frame.raw = std::move(raw);
        const std::string_view r = frame.raw;
        const std::string sum = xorHex(r.substr(1, 8));
        if (upper(r[9]) != sum[0] || upper(r[10]) != sum[1]) {
            frame.status = Frame::Status::BadChecksum;
            return frame;
        }
        const char sign = r[1], places = r[8];
        auto number = places >= '0' && places <= '6' && (sign == '+' || sign == '-' || sign == ' ')
                          ? scaledNumber(r.substr(2, 6), places - '0', sign == '-')
                          : std::nullopt;
        if (!number) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        frame.text = number->text;
        frame.value = number->value;
        return frame;
    }
};

std::string encode(const Sample& s) {
    if (s.places < 0 || s.places > 6) throw std::out_of_range("0 to 6 decimals");
    const double units = std::round(std::fabs(s.weight) * std::pow(10.0, s.places));
    std::string body =
        (s.weight < 0 ? "-" : "+") + paddedNumber(units, 0, 6) + static_cast<char>('0' + s.places);
    return StxDecoder::kStx + body + xorHex(body) + kEtx;
}

} // namespace

const Format& stxEtxFormat() {
    static const Format format{
        "stx-etx",
        "STX, sign, 6 digits, decimals digit, XOR of those as 2 hex digits, ETX",
        "\x02+0012502"
        "1F\x03",
        [](const Settings&) -> std::unique_ptr<Decoder> {
            return std::make_unique<StxEtxDecoder>();
        },
        encode,
        {},
    };
    return format;
}

} // namespace tolvak::formats
