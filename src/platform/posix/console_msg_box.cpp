#include "platform/posix/console_msg_box.h"

#include <cstdio>

#include "text/utf8.h"

namespace tolvak::posix {

ConsoleMsgBox::ConsoleMsgBox()
    : m_sink([](const std::string& title, const std::string& prompt, uint32_t) {
          std::string text = formatMsgBox(title, prompt);
          std::fwrite(text.data(), 1, text.size(), stderr);
          std::fflush(stderr);
      }) {}

void ConsoleMsgBox::show(const std::u16string& prompt, uint32_t flags,
                         const std::u16string& title) {
    if (m_sink) m_sink(toUtf8(title), toUtf8(prompt), flags);
}

std::string formatMsgBox(const std::string& title, const std::string& prompt) {
    std::string text = title;
    text += ": ";
    for (size_t i = 0; i < prompt.size(); ++i) {
        if (prompt[i] == '\r') {
            text += '\n';
            if (i + 1 < prompt.size() && prompt[i + 1] == '\n') ++i;
        } else {
            text += prompt[i];
        }
    }
    text += '\n';
    return text;
}

} // namespace tolvak::posix
