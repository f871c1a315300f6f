#include "text/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/automation_error.h"

namespace tolvak {

namespace {

constexpr char16_t kBlank = u' ';

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

void widenInto(const char* first, const char* last, bool leadingBlank, std::u16string& out) {
    // Sized once and written in place: append() from char pointers goes through a temporary.
    const size_t blank = leadingBlank ? 1 : 0;
    out.resize(blank + static_cast<size_t>(last - first));
    if (leadingBlank) out[0] = kBlank;
    std::copy(first, last, out.begin() + static_cast<std::ptrdiff_t>(blank));
}

std::u16string widen(const char* first, const char* last, bool leadingBlank) {
    std::u16string out;
    widenInto(first, last, leadingBlank, out);
    return out;
}

int significantDigits(const char* first, const char* last) {
    int count = 0;
    bool leading = true;
    for (const char* p = first; p != last; ++p) {
        if (*p < '0' || *p > '9') continue;
        if (leading && *p == '0') continue;
        leading = false;
        ++count;
    }
    return count;
}

// Writes value with up to 15 significant digits into buffer; returns the end.
char* formatDecimal(double value, char* first, char* last) {
    if (value == 0) value = 0; // negative zero is written "0"
    double magnitude = std::fabs(value);
    // From here on the value rounds to 1E+15 at 15 digits, so it is written that way.
    constexpr double kExponentFrom = 999999999999999.5;
    bool exponentForm = magnitude >= kExponentFrom || (magnitude != 0 && magnitude < 1e-5);
    if (!exponentForm) {
        // The shortest form that reads back as the same double is the answer whenever it needs
        // no more than 15 significant digits, as weights do.
        auto shortest = std::to_chars(first, last, value, std::chars_format::fixed);
        if (significantDigits(first, shortest.ptr) <= 15) return shortest.ptr;
        // Otherwise 15 significant digits, then trailing zeros and the point go.
        // Below 1 the zeros after the point are not significant: 0 or fewer integer digits.
        int integerDigits = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
        int fraction = std::max(0, 15 - integerDigits);
        auto result = std::to_chars(first, last, value, std::chars_format::fixed, fraction);
        char* end = result.ptr;
        if (fraction > 0) {
            while (end[-1] == '0')
                --end;
            if (end[-1] == '.') --end;
        }
        // Rounding may have produced "-0".
        if (end - first == 2 && first[0] == '-' && first[1] == '0') {
            first[0] = '0';
            end = first + 1;
        }
        return end;
    }
    // Exponent form: mantissa trimmed, "E", sign, at least two exponent digits.
    auto result = std::to_chars(first, last, value, std::chars_format::scientific, 14);
    char* e = std::find(first, result.ptr, 'e');
    char* mantissaEnd = e;
    while (mantissaEnd[-1] == '0')
        --mantissaEnd;
    if (mantissaEnd[-1] == '.') --mantissaEnd;
    // to_chars writes no terminating NUL: the exponent is read from its output and no further,
    // or digits an earlier call left in the buffer would join it.
    const char* exponentSign = e + 1;
    const bool negativeExponent = *exponentSign == '-';
    int absExponent = 0;
    std::from_chars(exponentSign + 1, result.ptr, absExponent);
    char* out = mantissaEnd;
    *out++ = 'E';
    *out++ = negativeExponent ? '-' : '+';
    if (absExponent < 10) *out++ = '0';
    return std::to_chars(out, last, absExponent).ptr;
}

// For a number from_chars found out of range: roughly the power of ten of its magnitude, enough
// to tell overflow (positive) from underflow.
long decimalMagnitude(const std::string& number) {
    size_t e = number.find('e');
    std::string mantissa = number.substr(0, e);
    long exponent = 0;
    if (e != std::string::npos) {
        std::string digits = number.substr(e + 1);
        if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
        // Clamp absurd exponents: only the sign of the sum matters.
        exponent = digits.size() > 9 ? (digits[0] == '-' ? -1000000000L : 1000000000L)
                                     : std::strtol(digits.c_str(), nullptr, 10);
    }
    size_t point = mantissa.find('.');
    std::string integerPart = mantissa.substr(0, point);
    size_t firstNonZero = integerPart.find_first_not_of("+-0");
    if (firstNonZero != std::string::npos)
        return exponent + static_cast<long>(integerPart.size() - firstNonZero);
    std::string fraction = point == std::string::npos ? "" : mantissa.substr(point + 1);
    size_t leadingZeros = fraction.find_first_not_of('0');
    return exponent -
           static_cast<long>(leadingZeros == std::string::npos ? fraction.size() : leadingZeros);
}

} // namespace

std::u16string decimalText(double value) {
    std::u16string out;
    decimalTextInto(value, out);
    return out;
}

void decimalTextInto(double value, std::u16string& out) {
    char buffer[64];
    char* end = formatDecimal(value, buffer, buffer + sizeof buffer);
    widenInto(buffer, end, false, out);
}

std::u16string blankSignedText(double value) {
    char buffer[64];
    char* end = formatDecimal(value, buffer, buffer + sizeof buffer);
    return widen(buffer, end, buffer[0] != '-');
}

bool isNumeric(std::u16string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && text[first] == kBlank)
        ++first;
    while (last > first && text[last - 1] == kBlank)
        --last;
    size_t i = first;
    if (i < last && (text[i] == u'+' || text[i] == u'-')) ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < last; ++i) {
        if (isDigit(text[i])) {
            ++digits;
        } else if (text[i] == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    if (i < last && (text[i] == u'E' || text[i] == u'e')) {
        ++i;
        if (i < last && (text[i] == u'+' || text[i] == u'-')) ++i;
        size_t exponentDigits = 0;
        while (i < last && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    return i == last;
}

// Plain decimals of up to 15 digits (every indicator frame) are exact as integers, and one
// division by an exact power of ten rounds correctly: no need to go through text.
std::optional<double> quickNumber(std::u16string_view text) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int64_t mantissa = 0;
    int digits = 0, fraction = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        char16_t c = text[i];
        if (isDigit(c)) {
            if (++digits > 15) return std::nullopt;
            mantissa = mantissa * 10 + (c - u'0');
            if (point) ++fraction;
        } else if (c == u'.' && !point) {
            point = true;
        } else if (c == u'E' || c == u'e' || c == u' ' || c == u'\t' || c == u'\n') {
            return std::nullopt; // exponents and skipped characters take the general road
        } else {
            break;
        }
    }
    double value = static_cast<double>(mantissa) / kPowers[fraction];
    return negative ? -value : value;
}

double leadingNumber(std::u16string_view text) {
    if (std::optional<double> quick = quickNumber(text)) return *quick;
    // Gather the number's characters (skipping blanks, tabs and line feeds) as ASCII, then let
    // from_chars do the rounding.
    std::string number;
    enum class Stage { Sign, Mantissa, ExponentSign, Exponent } stage = Stage::Sign;
    bool point = false, mantissaDigits = false;
    for (char16_t c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n') continue;
        if (stage == Stage::Sign && (c == u'+' || c == u'-')) {
            number.push_back(static_cast<char>(c));
            stage = Stage::Mantissa;
        } else if ((stage == Stage::Sign || stage == Stage::Mantissa) && isDigit(c)) {
            number.push_back(static_cast<char>(c));
            mantissaDigits = true;
            stage = Stage::Mantissa;
        } else if ((stage == Stage::Sign || stage == Stage::Mantissa) && c == u'.' && !point) {
            number.push_back('.');
            point = true;
            stage = Stage::Mantissa;
        } else if (stage == Stage::Mantissa && mantissaDigits && (c == u'E' || c == u'e')) {
            number.push_back('e');
            stage = Stage::ExponentSign;
        } else if (stage == Stage::ExponentSign && (c == u'+' || c == u'-')) {
            number.push_back(static_cast<char>(c));
            stage = Stage::Exponent;
        } else if ((stage == Stage::ExponentSign || stage == Stage::Exponent) && isDigit(c)) {
            number.push_back(static_cast<char>(c));
            stage = Stage::Exponent;
        } else {
            break;
        }
    }
    if (!mantissaDigits) return 0;
    double value = 0;
    auto result =
        std::from_chars(number.data() + (number[0] == '+'), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range both ways: overflow is an error, underflow reads as 0.
        if (decimalMagnitude(number) > 0) throw errors::overflow();
        return 0;
    }
    return value;
}

double numberFromText(std::u16string_view text) {
    if (!isNumeric(text)) throw errors::typeMismatch();
    return leadingNumber(text);
}

} // namespace tolvak
