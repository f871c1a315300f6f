#include "acquisition/frame_parser.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "acquisition/number_text.h"
#include "control/automation_error.h"

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
    out.assign(text.rbegin(), text.rend());
}

// Decodes one complete frame into the display. scratch holds the reversed frame; divisor is
// 10 to the power decimals, worked out once per pass when first needed. Returns the error of a
// frame whose number cannot be scaled (the display keeps its text); a display that refuses its
// text throws.
std::optional<AutomationError> showFrame(const ControlState& state, SurfaceModel& surface,
                                         std::u16string_view frame, std::u16string& scratch,
                                         std::optional<double>& divisor) {
    // Indicators send the digits last first; a reverse flag other than 1 takes them as they come.
    std::u16string_view t = frame;
    if (state.reverseFrame == 1) {
        reverseInto(frame, scratch);
        t = scratch;
    }
    std::u16string text = u"0";
    if (isNumeric(t)) {
        auto error = trapErrors([&] {
            if (!divisor) divisor = decimalDivisor(state.decimals);
            text = decimalText(scale(leadingNumber(t), *divisor));
        });
        if (error) return error;
    }
    surface.setText(ChildId::lblNumber, text);
    surface.refresh(ChildId::lblNumber);
    return std::nullopt;
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

void parseFrames(ControlState& state, SurfaceModel& surface, std::u16string_view separator) {
    std::u16string& raw = state.rawData;
    if (separator.empty()) return;
    size_t end = raw.find(separator);
    if (end == std::u16string::npos) return; // fewer than two pieces

    const size_t minimum = [&] {
        int16_t m = checkedSum(state.eloadBits, state.eloadPrebits);
        return m < 0 ? 0 : static_cast<size_t>(m);
    }();
    // Reused across passes and events: the receive path allocates nothing per frame.
    thread_local std::u16string scratch;
    std::optional<double> divisor;
    // A frame that cannot be decoded is consumed like any other: left in rawData it would fail
    // again at every event and hold up every frame behind it. The first such error is raised
    // once the pass is done.
    std::optional<AutomationError> undecoded;
    auto show = [&](std::u16string_view frame) {
        auto error = showFrame(state, surface, frame, scratch, divisor);
        if (error && !undecoded) undecoded = std::move(error);
    };
    std::u16string_view text = raw;
    size_t start = 0;
    // Every piece but the last is followed by a separator; only the last can be unfinished, so
    // short pieces before it are dropped rather than glued to later input.
    while (end != std::u16string::npos) {
        std::u16string_view piece = text.substr(start, end - start);
        if (piece.size() >= minimum) show(piece);
        start = end + separator.size();
        end = text.find(separator, start);
    }
    std::u16string_view last = text.substr(start);
    if (last.size() >= minimum && !endsInPartOf(last, separator)) {
        show(last);
        raw.clear();
    } else {
        // Keep the separator that precedes the unfinished piece, and the piece.
        raw.erase(0, start - separator.size());
    }
    if (undecoded) throw *undecoded;
}

void dispatchFrames(ControlState& state, SurfaceModel& surface) {
    if (state.newLineSep == 1) parseFrames(state, surface, u"\n");
    if (state.enterKeySep == 1) parseFrames(state, surface, u"\r");
    if (!state.otherSep.empty()) parseFrames(state, surface, state.otherSep);
}

void capRawData(ControlState& state) {
    if (state.rawData.size() > kRawDataLimit)
        state.rawData.erase(0, state.rawData.size() - kRawDataLimit);
}

} // namespace tolvak
