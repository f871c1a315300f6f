#pragma once

#include <string>
#include <string_view>

namespace tolvak {

// The core speaks UTF-16; terminals, files and command lines speak UTF-8. Invalid input becomes
// U+FFFD rather than being dropped.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);

} // namespace tolvak
