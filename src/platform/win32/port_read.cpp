#include "platform/win32/port_read.h"

namespace tolvak::win32 {

std::optional<DWORD> waitingInDriver(HANDLE port) {
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(port, &errors, &status)) return std::nullopt;
    return status.cbInQue;
}

} // namespace tolvak::win32
