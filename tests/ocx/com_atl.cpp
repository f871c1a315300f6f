// The control in a container nobody here wrote: Wine's ATL host window ("AtlAxWin" from atl.dll)
// creates it from its ProgID and activates it.

#include <windows.h>

#include "com_check.h"
#include "com_host.h"

using namespace tolvak::com;
using namespace tolvak::wintest;

namespace {

Checker check;

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

template <typename F> F procedure(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A window below root whose text is text, searched depth first.
HWND findByText(HWND root, const std::wstring& text) {
    for (HWND c = GetWindow(root, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (windowText(c) == text) return c;
        if (HWND found = findByText(c, text)) return found;
    }
    return nullptr;
}

} // namespace

int main() {
    OleInitialize(nullptr);
    check.context("atl.dll");
    HMODULE atl = LoadLibraryW(L"atl.dll");
    auto init = procedure<AtlAxWinInitFn>(atl, "AtlAxWinInit");
    auto getControl = procedure<AtlAxGetControlFn>(atl, "AtlAxGetControl");
    if (check.expect(atl && init && getControl, "AtlAxWinInit and AtlAxGetControl") &&
        check.expect(init() != FALSE, "AtlAxWinInit")) {
        HWND host = createHostWindow(800, 200);
        check.context("AtlAxWin");
        HWND ax = CreateWindowW(L"AtlAxWin", kProgId, WS_CHILD | WS_VISIBLE, 0, 0, 700, 40, host,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
        if (check.expect(ax != nullptr, "the ATL host window is created from the ProgID")) {
            pumpMessages(500);
            ComPtr<IUnknown> control;
            if (check.expectHr(getControl(ax, &control), "AtlAxGetControl") && control) {
                ComPtr<ITolvak> tolvak;
                control->QueryInterface(kIidTolvak,
                                        reinterpret_cast<void**>(tolvak.GetAddressOf()));
                if (check.expect(tolvak != nullptr, "the hosted control is Tolvak"))
                    check.expectEq(call(tolvak.Get(), &ITolvak::getTolvakValue),
                                   std::wstring(L"8888888"), "getTolvakValue through the ATL host");
            }
            // ATL activates the control in place: the strip's windows are there.
            for (const wchar_t* text : {L"8888888", L"\u6253\u5F00", L"\u5173\u95ED"}) {
                HWND child = findByText(ax, text);
                check.expect(child != nullptr && IsWindowVisible(child),
                             ("shown: " + Checker::utf8(text)).c_str());
            }
            control.Reset();
            DestroyWindow(ax);
            pumpMessages(200);
        }
        DestroyWindow(host);
    }
    OleUninitialize();
    return check.finish("com_atl");
}
