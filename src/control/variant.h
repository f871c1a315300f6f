#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace tolvak {

// The automation values the control's interface passes: empty, short (VT_I2) and text (VT_BSTR).
using Variant = std::variant<std::monostate, int16_t, std::u16string>;

// Coercions the way automation coerces arguments: a number to its text, a numeric text to a
// short (13 "Type mismatch" when it is no number, 6 "Overflow" when it does not fit).
int16_t toShort(const Variant& value);
std::u16string toText(const Variant& value);

} // namespace tolvak
