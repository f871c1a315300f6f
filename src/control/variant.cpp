#include "control/variant.h"

#include <cmath>

#include "base/automation_error.h"
#include "text/number_text.h"

namespace tolvak {

int16_t toShort(const Variant& value) {
    if (const auto* number = std::get_if<int16_t>(&value)) return *number;
    if (const auto* text = std::get_if<std::u16string>(&value)) {
        double d = std::nearbyint(numberFromText(*text)); // rounds half to even, as automation does
        if (!(d >= -32768 && d <= 32767)) throw errors::overflow();
        return static_cast<int16_t>(d);
    }
    return 0; // empty converts to 0
}

std::u16string toText(const Variant& value) {
    if (const auto* number = std::get_if<int16_t>(&value)) return decimalText(*number);
    if (const auto* text = std::get_if<std::u16string>(&value)) return *text;
    return {};
}

} // namespace tolvak
