// The balance command set answered on request: "S S     100.00 g" (stable), "S D ..." (dynamic),
// "S I" (busy), "S +" / "S -" (over, under), "SI ...", "T S ..." for the tare; polled with
// "SI" CR LF. Replies end in CR LF.
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

class BalanceDecoder : public LinesDecoder {
  public:
    explicit BalanceDecoder(const Settings& s) : m_places(s.decimals) {}

  private:
    Frame decodeLine(std::string raw) override {
        Frame frame;
        frame.raw = std::move(raw);
        std::string_view text = body(frame.raw);
        const size_t commandEnd = std::min(text.find(' '), text.size());
        const std::string_view command = text.substr(0, commandEnd);
        text.remove_prefix(commandEnd);
        text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
        // Weight replies: S, SI, SIR, SU, SIU..., and the tare's T and TA.
        const bool weight = !command.empty() && command.size() <= 3 &&
                            command.find_first_not_of("SIRUTA") == std::string_view::npos &&
                            (command[0] == 'S' || command[0] == 'T');
        if (!weight || text.empty()) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        if (command[0] == 'T') frame.mode = WeightMode::Tare;
        const char status = text[0];
        text.remove_prefix(1);
        switch (status) {
        case 'S':
            frame.stable = true;
            break;
        case 'D':
            frame.stable = false;
            break;
        case '+':
        case '-':
            frame.stable = false;
            frame.range = status == '+' ? Range::Overload : Range::Underload;
            frame.text = "OL";
            return frame;
        case 'I':
            frame.status = Frame::Status::NoWeight;
            return frame;
        default:
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        // The weight, then the unit after a blank.
        const size_t unit = text.find_last_of(' ');
        std::string_view number = text, unitText;
        if (unit != std::string_view::npos && unit + 1 < text.size() &&
            std::isalpha(static_cast<unsigned char>(text[unit + 1]))) {
            number = text.substr(0, unit);
            unitText = text.substr(unit + 1);
        }
        auto n = parseNumber(number, m_places);
        if (!n || (text.size() > 0 && text[0] != ' ')) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        frame.text = n->text;
        frame.value = n->value;
        frame.unit = std::string(unitText);
        return frame;
    }

    int m_places;
};

std::string encode(const Sample& s) {
    if (s.range != Range::InRange) return s.range == Range::Overload ? "S +\r\n" : "S -\r\n";
    std::string n = paddedNumber(s.weight, s.places, 0);
    if (s.weight < 0) n.insert(0, 1, '-');
    if (n.size() > 10) throw std::out_of_range("weight does not fit the reply");
    return std::string("S ") + (s.stable ? 'S' : 'D') + ' ' + std::string(10 - n.size(), ' ') + n +
           ' ' + s.unit + "\r\n";
}

} // namespace

const Format& balanceFormat() {
    static const Format format{
        "balance",
        "balance command set, answered on request: S S (stable) / S D (dynamic) / S + / S - "
        "(over, under) / S I (busy), weight, unit; poll with SI",
        "S S     100.00 g\r\n",
        [](const Settings& s) -> std::unique_ptr<Decoder> {
            return std::make_unique<BalanceDecoder>(s);
        },
        encode,
        {"Z\r\n", "T\r\n", "SI\r\n", "SI\r\n"},
        kUsesDecimals,
    };
    return format;
}

} // namespace tolvak::formats
