#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/msg_box.h"

namespace tolvak::posix {

// The message box of a console program: it does not wait for anybody, it reports. The default
// sink writes to stderr; a host plugs in its own to show, count or collect the boxes.
class ConsoleMsgBox : public MsgBox {
  public:
    // title and prompt in UTF-8.
    using Sink =
        std::function<void(const std::string& title, const std::string& prompt, uint32_t flags)>;

    ConsoleMsgBox();
    explicit ConsoleMsgBox(Sink sink) : m_sink(std::move(sink)) {}

    void show(const std::u16string& prompt, uint32_t flags, const std::u16string& title) override;

  private:
    Sink m_sink;
};

// "title: prompt" with the box's line breaks (a lone CR on Windows) as newlines, ending in one.
std::string formatMsgBox(const std::string& title, const std::string& prompt);

} // namespace tolvak::posix
