#pragma once

// The COM port reader's pieces: one overlapped read at a time, and what the driver still holds.

#include <windows.h>

#include <optional>

#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// One overlapped read on the port at a time. A read still in flight when this goes is cancelled
// and waited for, so the system never writes into a buffer or OVERLAPPED that is gone.
class PortRead {
  public:
    explicit PortRead(HANDLE port)
        : m_port(port), m_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_overlapped.hEvent = m_done.get();
    }
    ~PortRead() { cancel(); }
    PortRead(const PortRead&) = delete;
    PortRead& operator=(const PortRead&) = delete;

    bool ready() const { return static_cast<bool>(m_done); }
    // Signalled once the read in flight has ended, however.
    HANDLE event() const { return m_done.get(); }

    // Starts reading up to size bytes: 0, or the error that kept it from starting.
    DWORD start(char* data, DWORD size) {
        m_overlapped.Offset = m_overlapped.OffsetHigh = 0;
        if (!ReadFile(m_port, data, size, nullptr, &m_overlapped) &&
            GetLastError() != ERROR_IO_PENDING)
            return GetLastError();
        m_pending = true;
        return 0;
    }

    // Once event() is signalled: 0 and the bytes read, or the error the read ended with.
    DWORD finish(DWORD& count) {
        m_pending = false;
        count = 0;
        return GetOverlappedResult(m_port, &m_overlapped, &count, FALSE) ? 0 : GetLastError();
    }

    void cancel() {
        if (!m_pending) return;
        m_pending = false;
        CancelIoEx(m_port, &m_overlapped);
        DWORD count = 0;
        GetOverlappedResult(m_port, &m_overlapped, &count, TRUE);
    }

  private:
    HANDLE m_port;
    UniqueKernelObject m_done;
    OVERLAPPED m_overlapped{};
    bool m_pending = false;
};

// Bytes the driver holds beyond those already read; none when it no longer answers for the port.
std::optional<DWORD> waitingInDriver(HANDLE port);

} // namespace tolvak::win32
