#pragma once

#include <string_view>

namespace tolvak {

// Names and font faces compare the way automation compares names: letters a-z fold to A-Z.
inline bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    auto fold = [](char16_t c) {
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

} // namespace tolvak
