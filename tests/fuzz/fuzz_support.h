#pragma once

// What the fuzz targets share: reading the fuzzer's bytes front to back, and stopping with a
// report when an invariant does not hold.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "text/number_text.h"
#include "base/automation_error.h"
#include "text/utf8.h"

namespace tolvak::fuzz {

// Reads the input front to back. Past the end every read gives zeros, so every input is a valid
// one and a short seed means "defaults from here on".
class InputReader {
  public:
    InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_at == m_size; }
    size_t remaining() const { return m_size - m_at; }

    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    int16_t int16() {
        uint16_t low = byte();
        uint16_t high = byte();
        return static_cast<int16_t>(low | high << 8);
    }
    int32_t int32() {
        uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8)
            value |= uint32_t{byte()} << shift;
        return static_cast<int32_t>(value);
    }
    double float64() {
        uint8_t bytes[8] = {};
        for (uint8_t& b : bytes)
            b = byte();
        double value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    // Up to n bytes as characters, one byte to one character, as the serial line maps them.
    std::u16string text(size_t n) {
        n = std::min(n, remaining());
        std::u16string out(m_data + m_at, m_data + m_at + n);
        m_at += n;
        return out;
    }
    // Up to n characters of two bytes each (any UTF-16 code unit, lone surrogates included).
    std::u16string wideText(size_t n) {
        std::u16string out;
        while (n-- > 0 && remaining() >= 2)
            out.push_back(static_cast<char16_t>(int16()));
        return out;
    }
    std::u16string rest() { return text(remaining()); }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// An invariant that does not hold: say which, and abort so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "\ninvariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline std::string quoted(std::u16string_view text) {
    return "\"" + toUtf8(text) + "\"";
}

// True when text is a number text that reads back as itself: the number it shows is the number
// it means. The blank-signed form is the plain form with a blank in front of non-negative values.
inline bool readsBackAsItself(std::u16string_view text, bool blankSigned = false) {
    if (!isNumeric(text)) return false;
    try {
        double value = leadingNumber(text);
        return (blankSigned ? blankSignedText(value) : decimalText(value)) == text;
    } catch (const AutomationError&) {
        return false; // beyond the double range: no display means that
    }
}

} // namespace tolvak::fuzz
