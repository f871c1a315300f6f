#include "platform/win32/msg_box_win32.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace tolvak::win32 {

void MsgBoxWin32::show(const std::u16string& prompt, uint32_t flags, const std::u16string& title) {
    MessageBoxW(GetActiveWindow(), wide(prompt), wide(title), flags);
}

} // namespace tolvak::win32
