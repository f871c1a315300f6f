#include "platform/win32/message_window.h"

#include "platform/win32/win32_error.h"

namespace tolvak::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TolvakMessageWindow";

} // namespace

HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

void registerWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    // Classes outlive an unloaded DLL: one left by an earlier load of the control points at
    // code that is gone, so it is registered afresh.
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(wc.hInstance, name, &existing)) {
        if (existing.lpfnWndProc == proc) return;
        UnregisterClassW(name, wc.hInstance);
    }
    if (!RegisterClassExW(&wc)) throw fromWin32(GetLastError(), u"window class");
}

MessageWindow::MessageWindow(Handler handler) : m_handler(std::move(handler)) {
    registerWindowClass(kClassName, &MessageWindow::windowProc, nullptr);
    HWND hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                moduleInstance(), this);
    if (!hwnd) throw fromWin32(GetLastError(), u"message window");
    m_window.reset(hwnd);
}

LRESULT CALLBACK MessageWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = windowOwner<MessageWindow>(hwnd, message, lParam);
    if (self && (message >= WM_USER || message == WM_TIMER)) {
        // Nothing may unwind through the system's dispatcher; the handlers report their own.
        try {
            self->m_handler(message, wParam, lParam);
        } catch (...) {
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace tolvak::win32
