#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "acquisition/line_settings.h"
#include "base/automation_error.h"
#include "control/serial_control.h"
#include "platform/win32/message_window.h"
#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// MSComm1 on a COM port (\\.\COMn). A reader thread waits in a read until bytes arrive, moves
// them into a buffer that never drops characters, and posts to a message-only window so that the
// receive event is raised on the thread that built this object. A silent line costs no wake-ups.
class SerialControlWin32 : public SerialControl {
  public:
    static constexpr int16_t kMaxPort = 255;

    SerialControlWin32();
    ~SerialControlWin32() override;

    void setCommPort(int16_t port) override;
    void setSettings(const std::u16string& settings) override;
    void setInBufferSize(int16_t size) override;
    void setInBufferCount(int16_t count) override;
    void setInputLen(int16_t length) override;
    void setRThreshold(int16_t threshold) override;
    bool portOpen() override { return m_port.operator bool(); }
    void setPortOpen(bool open) override;
    std::u16string input() override;
    int16_t commEvent() override { return m_commEvent; }

    // Called once the device went away under the open port (after the port is closed). A
    // control in a form has nobody to tell; a program reading the scale has.
    void setOnPortLost(std::function<void(const AutomationError&)> handler) {
        m_onPortLost = std::move(handler);
    }

    // Sends bytes to the indicator (its commands), waiting up to a second for the line to take
    // them. Throws AutomationError when the port is closed or the write fails.
    void write(std::string_view bytes);

    // Characters waiting to be read, for diagnostics and tests.
    size_t waitingCount();

  private:
    enum : UINT { kReceivedMessage = WM_APP + 1, kLostMessage = WM_APP + 2 };

    std::u16string portName() const;
    void open();
    void openClaimed();
    void close();
    void applySettings(HANDLE port, const SerialSettings& settings);
    void readLoop(HANDLE port, unsigned generation);
    // The reader's next wait: the quiet time while a short tail waits its turn, else forever.
    DWORD quietWaitMs();
    // Under m_mutex: after the host took part of the input, what is left is handed over once
    // due, or once the line is quiet.
    void offerRest(unsigned generation);
    void onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Under m_mutex. Once the line has fallen quiet, fewer characters than the threshold are
    // handed over too: the last byte of a frame must not wait for the next frame.
    void notifyIfDue(unsigned generation, bool lineQuiet = false);
    bool due(bool lineQuiet) const; // under m_mutex

    int16_t m_commPort = 1;
    SerialSettings m_settings;
    int16_t m_inBufferSize = 1024;
    int16_t m_inputLen = 0;
    int16_t m_commEvent = 0;

    std::function<void(const AutomationError&)> m_onPortLost;
    MessageWindow m_window;
    UniqueFile m_port;
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    UniqueKernelObject m_wake; // set to make the reader look again at m_stop and the quiet wait
    unsigned m_generation = 0; // one per opening; stale notifications are dropped

    // Shared with the reader thread.
    std::mutex m_mutex;
    std::string m_received; // bytes, oldest first
    int16_t m_threshold = 0;
    bool m_notifyPending = false;
    // Characters arrived (or were left by the host) that no quiet-line hand-over has offered yet.
    bool m_quietOwed = false;
    DWORD m_quietMs = 0;
};

} // namespace tolvak::win32
