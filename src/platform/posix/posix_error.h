#pragma once

#include <string_view>

#include "base/automation_error.h"

namespace tolvak::posix {

// The one place where a system error becomes the serial component's automation error: the number
// says what kind of failure the caller sees, the description names the device and the reason.
AutomationError fromErrno(int error, std::string_view device);

} // namespace tolvak::posix
