#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/line_settings.h"
#include "base/automation_error.h"
#include "control/serial_control.h"
#include "platform/win32/message_window.h"
#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// MSComm1 on a COM port (\\.\COMn). A reader thread moves every received byte into a buffer
// that never drops characters, and posts to a message-only window so that the receive event is
// raised on the thread that built this object.
class SerialControlWin32 : public SerialControl {
  public:
    static constexpr int16_t kMaxPort = 255;
    // ReadFile returns after this long without data, so closing never waits longer.
    static constexpr DWORD kReadTimeoutMs = 50;

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
    unsigned m_generation = 0; // one per opening; stale notifications are dropped

    // Shared with the reader thread.
    std::mutex m_mutex;
    std::string m_received; // bytes, oldest first
    int16_t m_threshold = 0;
    bool m_notifyPending = false;
};

} // namespace tolvak::win32
