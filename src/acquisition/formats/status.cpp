// Status lines of the "ST,GS,+0012.50kg" kind: stable/unstable/overload, gross/net/tare, the
// weight and its unit, ending in CR LF; and their variations: no mode, one comma, a comma before
// the unit, a device-ID and a lamp byte between the mode and the weight.
#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

struct Field {
    std::string_view word;
    Range range;
    std::optional<bool> stable;
};
constexpr Field kStates[] = {
    {"ST", Range::InRange, true}, {"US", Range::InRange, false}, {"OL", Range::Overload, false}};
constexpr std::pair<std::string_view, WeightMode> kModes[] = {
    {"GS", WeightMode::Gross}, {"NT", WeightMode::Net}, {"TR", WeightMode::Tare}};

// The state word; then, each after a comma or none: the mode word, a device-ID byte and a lamp
// byte (any of 0x20-0xFF, after a mode only); the weight; a comma or blanks; the unit.
class StatusDecoder : public LinesDecoder {
  public:
    explicit StatusDecoder(const Settings& s) : m_places(s.decimals) {}

  private:
    Frame decodeLine(std::string raw) override {
        Frame frame;
        frame.raw = std::move(raw);
        std::string_view rest = body(frame.raw);
        const Field* state = nullptr;
        for (const Field& f : kStates)
            if (rest.substr(0, 2) == f.word) state = &f;
        if (!state) return malformed(frame);
        frame.stable = state->stable;
        frame.range = state->range;
        rest.remove_prefix(2);
        auto comma = [&] {
            if (!rest.empty() && rest.front() == ',') rest.remove_prefix(1);
        };
        comma();
        bool mode = false;
        for (const auto& [word, m] : kModes)
            if (rest.substr(0, 2) == word) {
                frame.mode = m;
                mode = true;
            }
        if (mode) {
            rest.remove_prefix(2);
            comma();
        }
        // The unit: letters and blanks at the end, after a comma or not.
        size_t unitStart = rest.size();
        while (unitStart > 0 && (std::isalpha(static_cast<unsigned char>(rest[unitStart - 1])) ||
                                 rest[unitStart - 1] == ' '))
            --unitStart;
        std::string_view unit = rest.substr(unitStart);
        rest = rest.substr(0, unitStart);
        if (!rest.empty() && rest.back() == ',') rest.remove_suffix(1);
        unit.remove_prefix(std::min(unit.find_first_not_of(' '), unit.size()));
        unit = unit.substr(0, unit.find(' '));
        frame.unit = std::string(unit);
        // The weight starts at its sign, or after the last byte that cannot be in it.
        size_t start = rest.find_last_of("+-");
        if (start == std::string_view::npos) {
            start = rest.find_last_not_of("0123456789., ");
            start = start == std::string_view::npos ? 0 : start + 1;
        }
        // The ID and lamp bytes, with or without commas after them.
        const std::string_view between = rest.substr(0, start);
        const auto bytes = static_cast<size_t>(
            std::count_if(between.begin(), between.end(), [](char c) { return c != ','; }));
        if (bytes > (mode ? 2u : 0u) || between.find(",,") != std::string_view::npos ||
            between.find_first_of(std::string_view("\0\x01\x02\x03\r\n", 6)) !=
                std::string_view::npos)
            return malformed(frame);
        const std::string_view data = rest.substr(start);
        if (frame.range == Range::Overload) {
            // The digits of an overload say nothing; its sign tells over from under.
            if (data.substr(0, 1) == "-") frame.range = Range::Underload;
            frame.text = "OL";
            return frame;
        }
        const auto number = parseNumber(data, m_places);
        if (!number) return malformed(frame);
        frame.text = number->text;
        frame.value = number->value;
        return frame;
    }

    static Frame malformed(Frame& frame) {
        frame.status = Frame::Status::Malformed;
        return std::move(frame);
    }

    int m_places;
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
        "weight, unit; CR LF (the mode, commas, a device-ID and a lamp byte may vary)",
        "ST,GS,+0012.50kg\r\n",
        [](const Settings& s) -> std::unique_ptr<Decoder> {
            return std::make_unique<StatusDecoder>(s);
        },
        encode,
        {"Z\r\n", "T\r\n", "Q\r\n", ""},
        kUsesDecimals,
    };
    return format;
}

} // namespace tolvak::formats
