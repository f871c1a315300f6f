#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "control/surface_model.h"

namespace tolvak {

// Saved values: a 16-bit integer, a font, an OLE_COLOR, a single-precision float.
using PropertyValue = std::variant<int16_t, FontDesc, uint32_t, float>;

// The container's property bag, as the save step sees it: it stores what it is given, or throws
// AutomationError.
class PropertyBag {
public:
    virtual ~PropertyBag() = default;
    virtual void write(const std::u16string& name, const PropertyValue& value) = 0;
};

} // namespace tolvak
