#include "base/automation_error.h"

namespace tolvak::errors {

AutomationError overflow() {
    return {kOverflow, u"Overflow"};
}
AutomationError outOfMemory() {
    return {kOutOfMemory, u"Out of memory"};
}
AutomationError divisionByZero() {
    return {kDivisionByZero, u"Division by zero"};
}
AutomationError typeMismatch() {
    return {kTypeMismatch, u"Type mismatch"};
}
AutomationError invalidPropertyValue() {
    return {kInvalidPropertyValue, u"Invalid property value"};
}
AutomationError memberNotFound() {
    return {kMemberNotFound, u"Object doesn't support this property or method"};
}

AutomationError wrongArgumentCount() {
    return {kWrongArgumentCount, u"Wrong number of arguments or invalid property assignment"};
}

AutomationError portAlreadyOpen() {
    return {kPortAlreadyOpen, u"Port already open"};
}

} // namespace tolvak::errors
