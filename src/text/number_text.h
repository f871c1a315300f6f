#pragma once

#include <string>
#include <string_view>

namespace tolvak {

// Number text, the same everywhere in the control: decimal digits, the full stop as decimal
// point whatever the locale, no grouping, at most 15 significant digits, no trailing zeros and
// no point for whole values; exponent form ("1E+15", "1E-05") only far from 1.

// Plain form: "-" before negative values, nothing before others; negative zero is "0".
std::u16string decimalText(double value);
// The same into out, reusing its storage: the receive path writes a text per frame.
void decimalTextInto(double value, std::u16string& out);
// Blank-signed form: one blank (character 32) before a value that is not negative.
std::u16string blankSignedText(double value);

// True when, leaving aside blanks (character 32 only) at either end, the whole text is one
// number: optional sign, digits with at most one decimal point, optional exponent.
bool isNumeric(std::u16string_view text);

// The number at the start of text. Blanks, tabs and line feeds are skipped wherever they stand;
// reading stops at the first character that cannot continue the number; no digits read as 0.
// Throws 6 "Overflow" when the number is beyond the double range.
double leadingNumber(std::u16string_view text);

// A text the host gave as a number (the baud rate): its value, or 13 "Type mismatch" when it is
// not numeric.
double numberFromText(std::u16string_view text);

} // namespace tolvak
