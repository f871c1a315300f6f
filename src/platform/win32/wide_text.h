#pragma once

#include <string>

namespace tolvak::win32 {

// On Windows wchar_t and char16_t are both UTF-16 code units, so the core's texts go to W
// functions as they are.
inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string fromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

inline std::u16string fromWide(const std::wstring& text) {
    return fromWide(text.data(), text.size());
}

} // namespace tolvak::win32
