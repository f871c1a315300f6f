#pragma once

#include <windows.h>

#include <string>

#include "base/automation_error.h"

namespace tolvak::win32 {

// The one place a Win32 error code becomes an automation error. context names what failed (for
// a port, "COM5"); the description carries it and the system's own reason.
AutomationError fromWin32(DWORD error, const std::u16string& context);

// The system's text for an error code, without the trailing line break.
std::u16string systemMessage(DWORD error);

// An error of the serial component that has no Win32 code behind it (a closed port, a change
// refused while open).
AutomationError serialError(int32_t number, const std::u16string& context);

} // namespace tolvak::win32
