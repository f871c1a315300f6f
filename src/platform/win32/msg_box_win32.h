#pragma once

#include "base/msg_box.h"

namespace tolvak::win32 {

// MessageBoxW, owned by the window active on the calling thread so the host's window waits.
class MsgBoxWin32 : public MsgBox {
  public:
    void show(const std::u16string& prompt, uint32_t flags, const std::u16string& title) override;
};

} // namespace tolvak::win32
