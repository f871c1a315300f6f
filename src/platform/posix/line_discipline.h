#pragma once

#include "acquisition/line_settings.h"

namespace tolvak::posix {

// The terminal ioctls the serial port needs. Kept apart because the kernel's termios2 (any baud
// rate the driver supports) cannot share a file with the C library's <termios.h>. Each returns
// 0 or an errno value.

// Raw line: no echo, no line editing, no signals, no flow control, no output processing, the
// receiver on, modem lines ignored; DTR and RTS are left as the driver has them.
int applyLineSettings(int fd, const SerialSettings& settings);
int makeRaw(int fd);
// After applyLineSettings: a character received with a framing or parity error comes marked as
// "\377\0c", a break as "\377\0\0" and a 0xFF byte as "\377\377".
int markReceiveErrors(int fd);
int discardInput(int fd);
// TIOCEXCL / TIOCNXCL: no other open of the device while we hold it.
int setExclusive(int fd, bool exclusive);

} // namespace tolvak::posix
