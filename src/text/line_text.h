#pragma once

#include <string>
#include <string_view>

namespace tolvak {

// Bytes from the line as the control's text: one byte per code unit, so no byte is lost or
// merged whatever the code page.
inline std::u16string lineText(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        text[i] = static_cast<unsigned char>(bytes[i]);
    return text;
}

// The control's text back as the line's bytes: each code unit's low byte.
inline std::string lineBytes(std::u16string_view text) {
    std::string bytes(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        bytes[i] = static_cast<char>(text[i]);
    return bytes;
}

// Characters of fewer than 8 data bits recorded by an 8-bit read: the bits above them (the
// parity, on a 7E1 or 7O1 line) cleared.
inline void keepDataBits(std::string& bytes, int dataBits) {
    if (dataBits >= 8 || dataBits < 1) return;
    for (char& c : bytes)
        c = static_cast<char>(c & ((1 << dataBits) - 1));
}

} // namespace tolvak
