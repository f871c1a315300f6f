#include "platform/win32/serial_settings.h"

#include <array>

namespace tolvak::win32 {

namespace {

std::u16string_view trimBlanks(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
    return text;
}

std::optional<uint32_t> wholeNumber(std::u16string_view text, uint32_t max) {
    if (text.empty()) return std::nullopt;
    uint32_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - u'0');
        if (value > max) return std::nullopt;
    }
    return value;
}

// Stop bits "1", "1.5" or "2", as halves.
std::optional<uint8_t> stopHalves(std::u16string_view text) {
    if (text == u"1") return 2;
    if (text == u"1.5") return 3;
    if (text == u"2") return 4;
    return std::nullopt;
}

} // namespace

std::optional<SerialSettings> parseSerialSettings(std::u16string_view text) {
    std::array<std::u16string_view, 4> fields;
    size_t count = 0;
    while (true) {
        size_t comma = text.find(u',');
        if (count == fields.size()) return std::nullopt; // a fifth field
        fields[count++] = trimBlanks(text.substr(0, comma));
        if (comma == std::u16string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (count != fields.size()) return std::nullopt;

    SerialSettings settings;
    // The fastest rate a COM port driver is asked for is a few megabaud.
    auto baud = wholeNumber(fields[0], 4'000'000);
    if (!baud || *baud == 0) return std::nullopt;
    settings.baudRate = *baud;

    if (fields[1].size() != 1) return std::nullopt;
    char16_t parity = fields[1][0];
    if (parity >= u'a' && parity <= u'z') parity = static_cast<char16_t>(parity - u'a' + u'A');
    if (std::u16string_view(u"NEOMS").find(parity) == std::u16string_view::npos)
        return std::nullopt;
    settings.parity = parity;

    auto data = wholeNumber(fields[2], 8);
    if (!data || *data < 5) return std::nullopt;
    settings.dataBits = static_cast<uint8_t>(*data);

    auto stop = stopHalves(fields[3]);
    if (!stop) return std::nullopt;
    settings.stopHalfBits = *stop;
    return settings;
}

} // namespace tolvak::win32
