#include "platform/win32/console_stop.h"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace tolvak::win32 {

namespace {

std::atomic<void (*)()> s_handler{nullptr};

// The system ends the process as soon as the handler returns from these: wait for the program
// to wind down (it exits the process itself) for as long as Windows allows.
bool endsProcess(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (auto handler = s_handler.load())
        handler();
    else
        std::raise(SIGINT);
    if (endsProcess(event)) Sleep(4500);
    return TRUE;
}

} // namespace

void setConsoleStopHandler(void (*handler)()) {
    s_handler = handler;
    watchConsoleEvents();
}

void watchConsoleEvents() {
    static const bool installed = SetConsoleCtrlHandler(&onConsoleEvent, TRUE) != 0;
    (void)installed;
}

} // namespace tolvak::win32
