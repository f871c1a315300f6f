#include "acquisition/line_settings.h"

#include <algorithm>
#include <vector>

namespace tolvak {

namespace {

std::u16string_view trimBlanks(std::u16string_view text) {
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::u16string_view> splitCommas(std::u16string_view text) {
    std::vector<std::u16string_view> pieces;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(u',', start);
        pieces.push_back(trimBlanks(text.substr(start, comma - start)));
        if (comma == std::u16string_view::npos) return pieces;
        start = comma + 1;
    }
}

// Digits only: no sign, no point, and no value a baud rate cannot have.
std::optional<uint32_t> parseBaud(std::u16string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    uint32_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (value == 0) return std::nullopt;
    return value;
}

std::optional<Parity> parseParity(std::u16string_view text) {
    if (text.size() != 1) return std::nullopt;
    switch (text[0] | 0x20) { // either case
    case u'n':
        return Parity::None;
    case u'e':
        return Parity::Even;
    case u'o':
        return Parity::Odd;
    case u'm':
        return Parity::Mark;
    case u's':
        return Parity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<StopBits> parseStopBits(std::u16string_view text) {
    if (text == u"1") return StopBits::One;
    if (text == u"1.5") return StopBits::OneAndHalf;
    if (text == u"2") return StopBits::Two;
    return std::nullopt;
}

} // namespace

std::optional<SerialSettings> parseSettingsText(std::u16string_view text) {
    auto pieces = splitCommas(text);
    if (pieces.size() != 4) return std::nullopt;
    auto baud = parseBaud(pieces[0]);
    auto parity = parseParity(pieces[1]);
    auto stop = parseStopBits(pieces[3]);
    const std::u16string_view data = pieces[2];
    if (!baud || !parity || !stop || data.size() != 1 || data[0] < u'5' || data[0] > u'8')
        return std::nullopt;
    return SerialSettings{*baud, *parity, data[0] - u'0', *stop};
}

std::chrono::milliseconds lineQuietTime(uint32_t baud) {
    return std::chrono::milliseconds(std::max<uint32_t>(2, 30000 / std::max<uint32_t>(baud, 1)));
}

} // namespace tolvak
