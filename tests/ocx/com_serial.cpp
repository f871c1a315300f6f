// End to end through Tolvak.ocx: the control hosted in place, reading frames from COM5 (a
// pseudo-terminal played by wine/pty_indicator.py, steered by the SEND and STOP lines printed
// here). OpenComm, CloseComm and getRawData are called by their places in the vtable, as an
// early-bound client compiled against the type library would.

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "com_check.h"
#include "com_host.h"
#include "ocx/typelib/typelib_layout.h"

using namespace tolvak::com;
using namespace tolvak::wintest;

namespace {

Checker check;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The indicator's frame for a reading: its digits last first, after the separator.
std::string frameOf(std::string digits) {
    std::reverse(digits.begin(), digits.end());
    return "=" + digits;
}

// The own method at a 1-based place of the vtable, the way an early-bound caller reaches it.
template <typename Fn> Fn slot(ITolvak* control, int position) {
    void** vtable = *reinterpret_cast<void***>(control);
    return reinterpret_cast<Fn>(vtable[vtableOffset(position) / sizeof(void*)]);
}
using NoArgs = HRESULT(STDMETHODCALLTYPE*)(ITolvak*);
using TextResult = HRESULT(STDMETHODCALLTYPE*)(ITolvak*, BSTR*);

std::wstring value(ITolvak* control) {
    return call(control, &ITolvak::getTolvakValue);
}

bool waitFor(ITolvak* control, const std::wstring& expected, DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        pumpMessages(50);
        if (value(control) == expected) return true;
    }
    return false;
}

void setShort(ITolvak* control, HRESULT (STDMETHODCALLTYPE ITolvak::*setter)(short*, VARIANT*),
              short v) {
    VARIANT result;
    VariantInit(&result);
    check.expectHr((control->*setter)(&v, &result), "setter");
}

} // namespace

int main() {
    OleInitialize(nullptr);
    check.context("port");
    // A missing port would stop OpenComm in a message box: make sure COM5 is there first.
    HANDLE probe = CreateFileW(L"\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (!check.expect(probe != INVALID_HANDLE_VALUE, "COM5 can be opened"))
        return check.finish("com_serial");
    CloseHandle(probe);

    HWND host = createHostWindow(800, 200);
    CallLog log;
    const RECT position{0, 0, 700, 40};
    {
        InPlaceControl hosted(check, host, position, log);
        if (hosted.ready()) {
            ITolvak* control = hosted.control.Get();
            setShort(control, &ITolvak::setPortNum, 5);

            // Before the port is open nothing is read.
            say("SEND " + frameOf("00012340"));
            pumpMessages(700);
            check.expectEq(value(control), std::wstring(L"8888888"),
                           "nothing read before OpenComm");

            check.context("OpenComm, the 24th method");
            check.expectHr(slot<NoArgs>(control, 24)(control), "OpenComm by its vtable place");

            const struct {
                short decimals;
                const char* digits;
                const wchar_t* shown;
            } readings[] = {
                {0, "00012340", L"12340"},
                {2, "00012345", L"123.45"},
                {0, "00000000", L"0"},
                {1, "00800005", L"80000.5"},
            };
            for (const auto& r : readings) {
                check.context("reading " + Checker::utf8(r.shown));
                setShort(control, &ITolvak::setDecimals, r.decimals);
                say("SEND " + frameOf(r.digits));
                check.expect(waitFor(control, r.shown, 20000), "getTolvakValue shows the weight");
                say("GOT " + Checker::utf8(value(control)));
            }

            check.context("getRawData, the 26th method");
            say("STOP");
            pumpMessages(500);
            BSTR raw = nullptr;
            check.expectHr(slot<TextResult>(control, 26)(control, &raw),
                           "getRawData by its vtable place");
            check.expectEq(std::wstring(raw ? raw : L""), call(control, &ITolvak::getRawData),
                           "the same text as getRawData by name");
            // Whole frames leave at most the separator behind.
            check.expect(!raw || SysStringLen(raw) <= 1, "no complete frame left in the buffer");
            SysFreeString(raw);

            check.context("CloseComm, the 25th method");
            check.expectHr(slot<NoArgs>(control, 25)(control), "CloseComm by its vtable place");
            const std::wstring last = value(control);
            say("SEND " + frameOf("00042420"));
            pumpMessages(1500);
            check.expectEq(value(control), last, "nothing read after CloseComm");
            say("STOP");
        }
    }
    DestroyWindow(host);
    OleUninitialize();
    return check.finish("com_serial");
}
