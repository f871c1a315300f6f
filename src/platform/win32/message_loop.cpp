#include "platform/win32/message_loop.h"

#include "platform/win32/win32_error.h"

namespace tolvak::win32 {

namespace {

UniqueKernelObject makeEvent() {
    UniqueKernelObject event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event) throw fromWin32(GetLastError(), u"stop event");
    return event;
}

} // namespace

MessageLoop::MessageLoop() : m_stop(makeEvent()) {}

MessageLoop::~MessageLoop() {
    for (const auto& [id, timer] : m_timers)
        KillTimer(m_window->hwnd(), static_cast<UINT_PTR>(id));
}

MessageLoop::Id MessageLoop::startTimer(std::chrono::milliseconds interval,
                                        std::function<void()> onTick, bool repeat) {
    if (!m_window)
        m_window.emplace([this](UINT message, WPARAM wParam, LPARAM) {
            if (message == WM_TIMER) onTimer(static_cast<Id>(wParam));
        });
    const Id id = m_nextId++;
    const auto ms = static_cast<UINT>(std::max<int64_t>(interval.count(), USER_TIMER_MINIMUM));
    if (!SetTimer(m_window->hwnd(), static_cast<UINT_PTR>(id), ms, nullptr))
        throw fromWin32(GetLastError(), u"timer");
    m_timers[id] = Timer{std::move(onTick), repeat};
    return id;
}

void MessageLoop::stopTimer(Id id) {
    if (m_timers.erase(id)) KillTimer(m_window->hwnd(), static_cast<UINT_PTR>(id));
}

void MessageLoop::onTimer(Id id) {
    auto it = m_timers.find(id);
    if (it == m_timers.end()) return; // a tick already queued when it was stopped
    // The tick may stop this timer or others, so it runs from a copy.
    auto onTick = it->second.onTick;
    if (!it->second.repeat) stopTimer(id);
    onTick();
}

int MessageLoop::run() {
    runUntil(std::nullopt);
    return *m_exitCode;
}

bool MessageLoop::runFor(Clock::duration duration) {
    return runUntil(Clock::now() + duration);
}

bool MessageLoop::processPending() {
    MSG msg;
    bool any = false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        any = true;
        if (msg.message == WM_QUIT) {
            m_exitCode = static_cast<int>(msg.wParam);
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return any;
}

void MessageLoop::waitOnce(std::optional<Clock::time_point> deadline) {
    if (processPending() || m_exitCode) return;
    DWORD timeout = INFINITE;
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        timeout = static_cast<DWORD>(std::max<int64_t>(left.count(), 0));
    }
    HANDLE stop = m_stop.get();
    // Wakes for messages already queued too, not only for new ones.
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(1, &stop, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_FAILED) throw fromWin32(GetLastError(), u"message loop");
    if (woke == WAIT_OBJECT_0) {
        m_exitCode = kStopped;
        return;
    }
    processPending();
}

bool MessageLoop::runUntil(std::optional<Clock::time_point> deadline) {
    while (!m_exitCode) {
        if (deadline && Clock::now() >= *deadline) return false;
        waitOnce(deadline);
    }
    return true;
}

} // namespace tolvak::win32
