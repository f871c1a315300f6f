#pragma once

#include <cstdint>
#include <string>

namespace tolvak {

// The modal message box. show() returns once the user has dismissed it; the button is not used.
class MsgBox {
  public:
    static constexpr uint32_t kOkOnly = 0x00;
    static constexpr uint32_t kExclamation = 0x30; // OK button with the exclamation icon

    virtual ~MsgBox() = default;
    virtual void show(const std::u16string& prompt, uint32_t flags,
                      const std::u16string& title) = 0;
};

// The caption of boxes shown without a title of their own.
inline const std::u16string kApplicationTitle = u"Tolvak";
// "Notice": the title of every box that names one.
inline const std::u16string kNoticeTitle = u"\u63D0\u793A";

} // namespace tolvak
