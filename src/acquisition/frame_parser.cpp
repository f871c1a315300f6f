#include "acquisition/frame_parser.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/automation_error.h"
#include "text/number_text.h"

namespace tolvak {

namespace {

int16_t checkedSum(int16_t a, int16_t b) {
    int sum = int{a} + int{b};
    if (sum < std::numeric_limits<int16_t>::min() || sum > std::numeric_limits<int16_t>::max())
        throw errors::overflow();
    return static_cast<int16_t>(sum);
}

// 10 to the power decimals, refusing what double arithmetic cannot divide by.
double decimalDivisor(int16_t decimals) {
    double divisor = std::pow(10.0, decimals);
    if (std::isinf(divisor)) throw errors::overflow();
    return divisor;
}

double scale(double value, double divisor) {
    if (divisor == 0) throw value == 0 ? errors::overflow() : errors::divisionByZero();
    double quotient = value / divisor;
    if (std::isinf(quotient)) throw errors::overflow();
    return quotient;
}

void reverseInto(std::u16string_view text, std::u16string& out) {
    // resize and copy in place: assign() from reverse iterators builds a temporary string.
    out.resize(text.size());
    std::reverse_copy(text.begin(), text.end(), out.begin());
}

// True when text ends with the start of a longer separator whose rest has not arrived yet:
// the piece before it is not finished, however long it is.
bool endsInPartOf(std::u16string_view text, std::u16string_view separator) {
    for (size_t n = std::min(text.size(), separator.size() - 1); n > 0; --n)
        if (text.substr(text.size() - n) == separator.substr(0, n)) return true;
    return false;
}

} // namespace

std::u16string reverseText(std::u16string_view text) {
    std::u16string out;
    reverseInto(text, out);
    return out;
}

size_t splitFrames(std::u16string_view text, std::u16string_view separator, int16_t eloadBits,
                   int16_t eloadPrebits, std::vector<std::u16string_view>& frames) {
    if (separator.empty()) return 0;
    size_t end = text.find(separator);
    if (end == std::u16string_view::npos) return 0; // fewer than two pieces

    const int16_t sum = checkedSum(eloadBits, eloadPrebits);
    const size_t minimum = sum < 0 ? 0 : static_cast<size_t>(sum);
    size_t start = 0;
    while (end != std::u16string_view::npos) {
        std::u16string_view piece = text.substr(start, end - start);
        if (piece.size() >= minimum) frames.push_back(piece);
        start = end + separator.size();
        end = text.find(separator, start);
    }
    std::u16string_view last = text.substr(start);
    if (last.size() >= minimum && !endsInPartOf(last, separator)) {
        frames.push_back(last);
        return text.size();
    }
    return start - separator.size();
}

void FrameDecoder::decode(std::u16string_view frame, DecodedFrame& out) {
    // Indicators send the digits last first; a reverse flag other than 1 takes them as they come.
    std::u16string_view t = frame;
    if (m_reversed) {
        reverseInto(frame, m_scratch);
        t = m_scratch;
    }
    if (!isNumeric(t)) {
        out.text.assign(u"0");
        out.value.reset();
        return;
    }
    if (!m_divisor) m_divisor = decimalDivisor(m_decimals);
    double value = scale(leadingNumber(t), *m_divisor);
    decimalTextInto(value, out.text);
    out.value = value;
}

void capRawData(std::u16string& text) {
    if (text.size() > kRawDataLimit) text.erase(0, text.size() - kRawDataLimit);
}

} // namespace tolvak
