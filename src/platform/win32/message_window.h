#pragma once

#include <windows.h>

#include <functional>

#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// The module holding this code: Tolvak.ocx inside a host, or a test program.
HINSTANCE moduleInstance();

// Registers a window class of this module once; later calls find it registered.
void registerWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background);

// The object a window was created for (CreateWindowEx's last argument), kept from WM_NCCREATE.
template <typename Owner> Owner* windowOwner(HWND hwnd, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// A message-only window on the thread that creates it: other threads post to it, and timers tick
// on it, so everything it handles runs on that thread.
class MessageWindow {
  public:
    using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

    // Throws AutomationError when the window cannot be created.
    explicit MessageWindow(Handler handler);
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND hwnd() const { return m_window.get(); }

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    Handler m_handler;
    UniqueWindow m_window;
};

} // namespace tolvak::win32
