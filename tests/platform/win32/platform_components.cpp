// The Win32 components without a serial line: error mapping, the serial component's checks on
// a closed port and Timer1's ticks.

#include <windows.h>

#include <functional>
#include <string>

#include "platform/win32/message_window.h"
#include "platform/win32/serial_control_win32.h"
#include "platform/win32/timer_control_win32.h"
#include "platform/win32/win32_error.h"
#include "platform_harness.h"

using namespace tolvak;
using namespace tolvak::wintest;

namespace {

void win32ErrorsBecomeAutomationErrors(Checker& check) {
    struct Row {
        DWORD error;
        int32_t number;
    } rows[] = {
        {ERROR_FILE_NOT_FOUND, 8002}, {ERROR_PATH_NOT_FOUND, 8002},
        {ERROR_ACCESS_DENIED, 8010},  {ERROR_SHARING_VIOLATION, 8010},
        {ERROR_INVALID_HANDLE, 8012}, {ERROR_INVALID_PARAMETER, 380},
        {ERROR_NOT_ENOUGH_MEMORY, 7}, {ERROR_CALL_NOT_IMPLEMENTED, 51},
    };
    for (const Row& row : rows) {
        check.context("fromWin32 " + std::to_string(row.error));
        AutomationError e = win32::fromWin32(row.error, u"COM3");
        check.expectEq(e.number(), row.number, "number");
        std::u16string reason = win32::systemMessage(row.error);
        check.expect(!reason.empty() && reason.back() != u'\n', "system text, no line break");
        check.expect(e.description().find(u"(COM3: " + reason + u")") != std::u16string::npos,
                     "description names the port and the reason");
    }
}

void closedPortChecks(Checker& check) {
    win32::SerialControlWin32 serial;
    struct Row {
        const char* name;
        std::function<void()> step;
        int32_t number;
    } rows[] = {
        {"port 0", [&] { serial.setCommPort(0); }, 8002},
        {"port -3", [&] { serial.setCommPort(-3); }, 8002},
        {"port 256", [&] { serial.setCommPort(256); }, 8002},
        {"port 255", [&] { serial.setCommPort(255); }, 0},
        {"compact settings", [&] { serial.setSettings(u"9600,e,7,2"); }, 0},
        {"settings as OpenComm builds them", [&] { serial.setSettings(u" 2400,n, 8 , 1"); }, 0},
        {"settings missing a field", [&] { serial.setSettings(u" 2400,n, 8"); }, 380},
        {"InBufferSize 0", [&] { serial.setInBufferSize(0); }, 380},
        {"InBufferSize 10", [&] { serial.setInBufferSize(10); }, 0},
        {"InBufferCount 1", [&] { serial.setInBufferCount(1); }, 380},
        {"InBufferCount 0 on a closed port", [&] { serial.setInBufferCount(0); }, 0},
        {"InputLen -1", [&] { serial.setInputLen(-1); }, 380},
        {"RThreshold -1", [&] { serial.setRThreshold(-1); }, 380},
        {"Input on a closed port", [&] { serial.input(); }, 8012},
        {"closing a closed port", [&] { serial.setPortOpen(false); }, 0},
        {"opening a missing port",
         [&] {
             serial.setCommPort(9);
             serial.setPortOpen(true);
         },
         8002},
    };
    for (const auto& row : rows) {
        check.context(row.name);
        check.expectEq(errorOf(row.step), row.number, "error number");
        check.expect(!serial.portOpen(), "port closed");
    }
}

void timerTicksOnItsThread(Checker& check) {
    win32::TimerControlWin32 timer;
    int ticks = 0;
    bool otherThread = false;
    DWORD owner = GetCurrentThreadId();
    timer.setTickHandler([&] {
        ++ticks;
        if (GetCurrentThreadId() != owner) otherThread = true;
    });
    struct Row {
        const char* name;
        bool enabled;
        int32_t interval;
        bool ticks;
    } rows[] = {
        {"enabled, interval 0 (as created)", true, 0, false},
        {"enabled, 50 ms", true, 50, true},
        {"disabled, 50 ms", false, 50, false},
        {"enabled again", true, 50, true},
    };
    for (const Row& row : rows) {
        check.context(row.name);
        timer.setEnabled(row.enabled);
        timer.setInterval(row.interval);
        ticks = 0;
        if (row.ticks) {
            check.expect(pumpUntil([&] { return ticks >= 3; }, 5000), "ticks");
        } else {
            pumpFor(300);
            check.expectEq(ticks, 0, "no ticks");
        }
    }
    check.expect(!otherThread, "every tick on the owning thread");
    check.context("interval out of range");
    check.expectEq(errorOf([&] { timer.setInterval(70000); }), 380, "refused");
    check.expectEq(errorOf([&] { timer.setInterval(-1); }), 380, "refused");
    check.expect(timer.ticking(), "old interval kept");
}

LRESULT CALLBACK staleProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK currentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A class left registered by an earlier load of the control must not keep its old procedure.
void windowClassesFollowTheCode(Checker& check) {
    check.context("window class registered again");
    const wchar_t* name = L"TolvakTestClass";
    win32::registerWindowClass(name, &staleProc, nullptr);
    win32::registerWindowClass(name, &currentProc, nullptr);
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    GetClassInfoExW(win32::moduleInstance(), name, &info);
    check.expect(info.lpfnWndProc == &currentProc, "the current procedure");
    win32::registerWindowClass(name, &currentProc, nullptr); // the same again is no error
}

} // namespace

int main() {
    Checker check;
    win32ErrorsBecomeAutomationErrors(check);
    closedPortChecks(check);
    timerTicksOnItsThread(check);
    windowClassesFollowTheCode(check);
    return check.finish("platform_components");
}
