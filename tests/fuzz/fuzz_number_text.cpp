// Number text (decimalText, blankSignedText, isNumeric, leadingNumber, numberFromText) on values
// and texts the fuzzer chooses.
//
// Input: records, front to back. A record whose first byte is even is a value: the next 8 bytes,
// a double. One whose first byte is odd is a text: a length byte, then that many characters, one
// byte each.
//
// Invariants:
// - decimalText of a finite value is numeric, has at most 15 significant digits and no trailing
//   zeros after the point, and reads back as the value rounded to 15 significant digits (as the C
//   library's "%.14e" and strtod give it); blankSignedText is the same text with a blank before
//   values that are not negative. An input holds several values, so that anything one call leaves
//   behind where the next one looks shows up. Near the largest double, where the value rounded
//   to 15 digits is beyond the double range, the text cannot be read back and is not.
// - A numeric text reads, through leadingNumber and numberFromText, as strtod reads it, or as the
//   overflow error 6 beyond the double range; its value then passes the checks above.
//   numberFromText refuses a text that is not numeric with 13, and leadingNumber of any text
//   throws nothing but 6.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace tolvak::fuzz {
namespace {

std::string g17(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

// The value rounded to 15 significant digits.
double rounded15(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    return std::strtod(buffer, nullptr);
}

// text is decimalText(value).
void checkValue(double value, const std::u16string& text) {
    std::string what = "decimalText(" + g17(value) + ") = " + quoted(text);
    if (!isNumeric(text)) fail(what + " is not numeric");
    std::u16string_view mantissa = std::u16string_view(text).substr(0, text.find(u'E'));
    int significant = 0;
    bool leading = true;
    for (char16_t c : mantissa) {
        if (c < u'0' || c > u'9' || (leading && c == u'0')) continue;
        leading = false;
        ++significant;
    }
    if (significant > 15) fail(what + " has more than 15 significant digits");
    if (mantissa.find(u'.') != std::u16string_view::npos &&
        (mantissa.back() == u'0' || mantissa.back() == u'.'))
        fail(what + " ends its fraction in a zero or a point");
    double expected = rounded15(value);
    // Within rounding of the largest double the text is right but no double reads it.
    if (std::isinf(expected)) return;
    double back = 0;
    if (auto error = trapErrors([&] { back = leadingNumber(text); }))
        fail(what + " does not read back: error " + std::to_string(error->number()));
    if (back != expected) fail(what + " reads back as " + g17(back) + ", not " + g17(expected));
    std::u16string blankSigned = blankSignedText(value);
    std::u16string plainWithBlank = text[0] == u'-' ? text : u" " + text;
    if (blankSigned != plainWithBlank)
        fail("blankSignedText(" + g17(value) + ") = " + quoted(blankSigned) + ", not " +
             quoted(plainWithBlank));
}

// Returns the value of a numeric text within the double range.
std::optional<double> checkText(const std::u16string& text) {
    std::string what = "text " + quoted(text);
    if (auto error = trapErrors([&] { leadingNumber(text); }); error && error->number() != 6)
        fail("leadingNumber of " + what + " throws " + std::to_string(error->number()));
    double value = 0;
    auto error = trapErrors([&] { value = numberFromText(text); });
    if (!isNumeric(text)) {
        if (!error || error->number() != errors::kTypeMismatch)
            fail("numberFromText takes " + what + ", which is not numeric");
        return std::nullopt;
    }
    // Numeric texts are ASCII.
    std::string ascii(text.begin(), text.end());
    errno = 0;
    double expected = std::strtod(ascii.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(expected)) {
        if (!error || error->number() != errors::kOverflow)
            fail(what + " is beyond the double range but reads without overflow");
        return std::nullopt;
    }
    if (error) fail(what + " gives error " + std::to_string(error->number()));
    if (value != expected) fail(what + " reads as " + g17(value) + ", not " + g17(expected));
    return value;
}

} // namespace
} // namespace tolvak::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvak;
    fuzz::InputReader in(data, size);
    std::vector<double> values;
    while (!in.empty()) {
        if (in.byte() % 2 == 0) {
            double value = in.float64();
            // No reading, setting or division in the control makes a value that is not finite.
            if (std::isfinite(value)) values.push_back(value);
        } else if (auto value = fuzz::checkText(in.text(in.byte()))) {
            values.push_back(*value);
        }
    }
    // The texts are made one right after the other, with nothing in between that could clear
    // what one call leaves behind for the next.
    std::vector<std::u16string> texts;
    texts.reserve(values.size());
    for (double value : values)
        texts.push_back(decimalText(value));
    for (size_t i = 0; i < values.size(); ++i)
        fuzz::checkValue(values[i], texts[i]);
    return 0;
}
