// Poll replies of point-of-sale scales, two shapes of one family:
//   LF weight unit CR LF, two status bytes, CR ETX (a status request gets only the second line).
//     Byte 1: bit 0 in motion, bit 1 at zero. Byte 2: bit 0 under, bit 1 over capacity.
//   STX weight CR when the weight stands; STX '?' status CR while it does not, the status byte's
//     bit 0 in motion, bit 1 over capacity, bit 2 under zero.
// Both are asked with W CR.
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

constexpr char kLf = '\n', kCr = '\r', kEtx = 0x03, kStx = 0x02;
// A reply longer than this lost its end.
constexpr size_t kMaxReply = 48;

class PosDecoder : public Decoder {
  public:
    explicit PosDecoder(const Settings& s) : m_places(s.decimals) {}

    void feed(std::string_view bytes, std::vector<Frame>& out) override {
        m_pending += bytes;
        size_t at = 0;
        while (true) {
            const size_t start = m_pending.find_first_of(std::string_view("\n\x02", 2), at);
            m_skipped += (start == std::string::npos ? m_pending.size() : start) - at;
            if (start == std::string::npos) {
                at = m_pending.size();
                break;
            }
            at = start;
            const size_t end = m_pending.find(m_pending[start] == kStx ? kCr : kEtx, start + 1);
            const size_t next = m_pending.find(kStx, start + 1);
            if (next != std::string::npos && (end == std::string::npos || next < end)) {
                m_skipped += next - start; // cut short by the next reply
                at = next;
                continue;
            }
            if (end == std::string::npos) {
                if (m_pending.size() - start > kMaxReply) {
                    ++m_skipped;
                    at = start + 1;
                    continue;
                }
                break;
            }
            out.push_back(decode(m_pending.substr(start, end + 1 - start)));
            at = end + 1;
        }
        m_pending.erase(0, at);
    }

  private:
    Frame decode(std::string raw) const {
        Frame frame;
        frame.raw = std::move(raw);
        const std::string_view r = frame.raw;
        if (r[0] == kStx) {
            const std::string_view text = r.substr(1, r.size() - 2);
            if (text.substr(0, 1) == "?" && text.size() == 2) {
                const unsigned status = static_cast<unsigned char>(text[1]);
                frame.stable = false;
                if (status & 6) {
                    frame.range = status & 2 ? Range::Overload : Range::Underload;
                    frame.text = "OL";
                } else {
                    frame.status = Frame::Status::NoWeight;
                }
                return frame;
            }
            frame.stable = true; // a weight is sent only when it stands
            return number(text, frame);
        }
        // LF weight unit CR LF status CR ETX, or LF status CR ETX.
        const size_t cr = r.find(kCr);
        if (cr == std::string_view::npos) return malformed(frame);
        const std::string_view first = r.substr(1, cr - 1);
        std::string_view status;
        if (r.substr(cr, 2) == "\r\n" && cr + 2 < r.size()) {
            status = r.substr(cr + 2, r.size() - 2 - (cr + 2));
        } else {
            status = first;
            if (r.size() != cr + 2) return malformed(frame);
        }
        if (status.size() < 2 || status.find_first_of("?\r\n") != std::string_view::npos)
            return malformed(frame);
        const unsigned a = static_cast<unsigned char>(status[0]),
                       b = static_cast<unsigned char>(status[1]);
        frame.stable = !(a & 1);
        if (b & 3) {
            frame.range = b & 2 ? Range::Overload : Range::Underload;
            frame.stable = false;
            frame.text = "OL";
        }
        if (status.data() == first.data()) {
            if (frame.range == Range::InRange) frame.status = Frame::Status::NoWeight;
            return frame;
        }
        size_t unit = first.size();
        while (unit > 0 && (std::isalpha(static_cast<unsigned char>(first[unit - 1])) ||
                            first[unit - 1] == ' '))
            --unit;
        std::string_view u = first.substr(unit);
        u.remove_prefix(std::min(u.find_first_not_of(' '), u.size()));
        frame.unit = std::string(u.substr(0, u.find(' ')));
        if (frame.range != Range::InRange) return frame;
        return number(first.substr(0, unit), frame);
    }

    Frame number(std::string_view text, Frame& frame) const {
        auto n = parseNumber(text, m_places);
        if (!n) return malformed(frame);
        frame.text = n->text;
        frame.value = n->value;
        return std::move(frame);
    }

    static Frame malformed(Frame& frame) {
        frame.status = Frame::Status::Malformed;
        return std::move(frame);
    }

    int m_places;
    std::string m_pending;
};

std::string encode(const Sample& s) {
    std::string n = paddedNumber(s.weight, s.places, 7);
    if (s.weight < 0) n[0] = '-';
    const char a = static_cast<char>(0x30 | (s.stable ? 0 : 1) | (s.weight == 0 ? 2 : 0));
    const char b = static_cast<char>(0x30 | (s.range == Range::Underload ? 1 : 0) |
                                     (s.range == Range::Overload ? 2 : 0));
    return std::string(1, kLf) + n + s.unit + "\r\n" + a + b + "\r" + kEtx;
}

} // namespace

const Format& posFormat() {
    static const Format format{
        "pos",
        "point-of-sale scale replies to W CR: LF weight unit CR LF, two status bytes, CR ETX; "
        "or STX weight CR, STX ? status CR in motion",
        "\n0005.25lb\r\n00\r\x03",
        [](const Settings& s) -> std::unique_ptr<Decoder> {
            return std::make_unique<PosDecoder>(s);
        },
        encode,
        {"Z\r", "T\r", "W\r", "W\r"},
        kUsesDecimals,
    };
    return format;
}

} // namespace tolvak::formats
