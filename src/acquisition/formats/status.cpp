// Status lines of the "ST,GS,+0012.50kg" kind: stable/unstable/overload, gross/net/tare, the
// weight and its unit, ending in CR LF.
#include <cctype>
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

class StatusDecoder : public LinesDecoder {
  private:
    Frame decodeLine(std::string raw) override {
        Frame frame;
        frame.raw = std::move(raw);
        std::string_view body(frame.raw.data(), frame.raw.size() - 1);
        if (body.size() < 7 || body[2] != ',' || body[5] != ',') return malformed(frame);
        const std::string_view state = body.substr(0, 2), mode = body.substr(3, 2);
        if (state == "ST" || state == "US") {
            frame.stable = state == "ST";
        } else if (state == "OL") {
            frame.stable = false;
            frame.range = Range::Overload;
        } else {
            return malformed(frame);
        }
        if (mode == "GS")
            frame.mode = WeightMode::Gross;
        else if (mode == "NT")
            frame.mode = WeightMode::Net;
        else if (mode == "TR")
            frame.mode = WeightMode::Tare;
        else
            return malformed(frame);
        std::string_view data = body.substr(6);
        size_t unitStart = data.size();
        while (unitStart > 0 && (std::isalpha(static_cast<unsigned char>(data[unitStart - 1])) ||
                                 data[unitStart - 1] == ' '))
            --unitStart;
        std::string_view unit = data.substr(unitStart);
        unit.remove_prefix(std::min(unit.find_first_not_of(' '), unit.size()));
        frame.unit = std::string(unit);
        const auto number = parseNumber(data.substr(0, unitStart));
        if (frame.range == Range::Overload) {
            // The digits of an overload say nothing; its sign tells over from under.
            if (data.substr(0, 1) == "-") frame.range = Range::Underload;
            frame.text = "OL";
            return frame;
        }
        if (!number) return malformed(frame);
        frame.text = number->text;
        frame.value = number->value;
        return frame;
    }

    static Frame malformed(Frame& frame) {
        frame.status = Frame::Status::Malformed;
        return std::move(frame);
    }
};

std::string encode(const Sample& s) {
    std::string state = s.range != Range::InRange ? "OL" : s.stable ? "ST" : "US";
    std::string mode = s.mode == WeightMode::Net ? "NT" : s.mode == WeightMode::Tare ? "TR" : "GS";
    const bool negative =
        s.range == Range::Underload || (s.range == Range::InRange && s.weight < 0);
    std::string digits = s.range != Range::InRange ? std::string(s.places > 0 ? 6 : 7, '9')
                                                   : paddedNumber(s.weight, s.places, 7);
    if (s.range != Range::InRange && s.places > 0) digits.insert(7 - 1 - s.places, ".");
    return state + "," + mode + "," + (negative ? "-" : "+") + digits + s.unit + "\r\n";
}

} // namespace

const Format& statusFormat() {
    static const Format format{
        "status",
        "status lines: ST/US/OL (stable, unstable, overload), GS/NT/TR (gross, net, tare), "
        "weight, unit; CR LF",
        "ST,GS,+0012.50kg\r\n",
        [](const Settings&) -> std::unique_ptr<Decoder> {
            return std::make_unique<StatusDecoder>();
        },
        encode,
        {"Z\r\n", "T\r\n", "Q\r\n"},
    };
    return format;
}

} // namespace tolvak::formats
