#pragma once

// What the platform test programs share: a message pump with a deadline, and a CBT hook that
// reads every message box the thread shows and dismisses it.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "com_check.h"
#include "platform/win32/unique_handle.h"

namespace tolvak::wintest {

inline std::wstring wideOf(const std::u16string& text) {
    return {text.begin(), text.end()};
}

inline std::string utf8Of(const std::u16string& text) {
    return Checker::utf8(wideOf(text));
}

// Dispatches messages until done() holds or timeoutMs pass; returns done().
template <typename Done> bool pumpUntil(Done done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

// The number of the automation error step raises, or 0 when it succeeds.
inline int32_t errorOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const AutomationError& e) {
        return e.number();
    }
    return 0;
}

inline void pumpFor(DWORD ms) {
    pumpUntil([] { return false; }, ms);
}

struct SeenBox {
    std::wstring text;
    std::wstring caption;
    bool exclamation = false; // the exclamation-mark icon
    bool anyIcon = false;
    int buttons = 0; // visible push buttons
};

// Reads each message box of this thread as it is activated and presses OK.
class BoxWatcher {
  public:
    BoxWatcher() {
        s_current = this;
        m_hook.reset(
            SetWindowsHookExW(WH_CBT, &BoxWatcher::hookProc, nullptr, GetCurrentThreadId()));
    }
    ~BoxWatcher() { s_current = nullptr; }
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    bool hooked() const { return static_cast<bool>(m_hook); }
    std::vector<SeenBox> boxes;

  private:
    static std::wstring textOf(HWND hwnd) {
        wchar_t buffer[2048] = {};
        GetWindowTextW(hwnd, buffer, 2048);
        return buffer;
    }

    static std::wstring classOf(HWND hwnd) {
        wchar_t buffer[64] = {};
        GetClassNameW(hwnd, buffer, 64);
        return buffer;
    }

    static BOOL CALLBACK readChild(HWND child, LPARAM param) {
        auto* box = reinterpret_cast<SeenBox*>(param);
        std::wstring kind = classOf(child);
        LONG style = GetWindowLongW(child, GWL_STYLE);
        bool visible = (style & WS_VISIBLE) != 0;
        if (_wcsicmp(kind.c_str(), L"Button") == 0 && visible) ++box->buttons;
        if (_wcsicmp(kind.c_str(), L"Static") != 0) return TRUE;
        if ((style & SS_TYPEMASK) == SS_ICON) {
            auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            if (icon && visible) {
                box->anyIcon = true;
                box->exclamation = icon == LoadIconW(nullptr, IDI_EXCLAMATION);
            }
        } else if (box->text.empty()) {
            box->text = textOf(child);
        }
        return TRUE;
    }

    static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam) {
        auto hwnd = reinterpret_cast<HWND>(wParam);
        if (code == HCBT_ACTIVATE && s_current && classOf(hwnd) == L"#32770" &&
            hwnd != s_current->m_last) {
            s_current->m_last = hwnd;
            SeenBox box;
            box.caption = textOf(hwnd);
            // The prompt is the static 0xFFFF; other statics are only looked at without it.
            if (HWND prompt = GetDlgItem(hwnd, 0xFFFF)) box.text = textOf(prompt);
            EnumChildWindows(hwnd, &BoxWatcher::readChild, reinterpret_cast<LPARAM>(&box));
            s_current->boxes.push_back(box);
            PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline BoxWatcher* s_current = nullptr;
    win32::UniqueHook m_hook;
    HWND m_last = nullptr;
};

} // namespace tolvak::wintest
