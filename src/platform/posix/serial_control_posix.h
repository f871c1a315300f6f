#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/line_settings.h"
#include "base/automation_error.h"
#include "control/serial_control.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/unique_fd.h"

namespace tolvak::posix {

// MSComm1 on a termios device. Port N is /dev/ttyS{N-1} unless bound to another path. Received
// bytes are read as soon as the device has them into a buffer that grows as needed (the buffer
// size is only a request), and the receive event is raised on the loop's thread once RThreshold
// characters wait.
class PosixSerialControl : public SerialControl {
  public:
    explicit PosixSerialControl(EventLoop& loop);
    ~PosixSerialControl() override;

    // Writes bytes to the open port (commands to the indicator), waiting at most a second for
    // the line to take them. Throws AutomationError when the port is closed or the write fails.
    void write(std::string_view bytes);

    // Port number → device path, for USB adapters and pseudo-terminals.
    void bindDevice(int16_t port, std::string path);
    std::string devicePath(int16_t port) const;
    // Told when the device goes away under an open port (unplugged, peer closed). The port is
    // closed by then and can be opened again once the device is back.
    void setOnPortLost(std::function<void(const AutomationError&)> handler) {
        m_onPortLost = std::move(handler);
    }

    void setCommPort(int16_t port) override;
    void setSettings(const std::u16string& settings) override;
    void setInBufferSize(int16_t size) override;
    void setInBufferCount(int16_t count) override;
    void setInputLen(int16_t length) override;
    void setRThreshold(int16_t threshold) override;
    bool portOpen() override { return m_fd.valid(); }
    void setPortOpen(bool open) override;
    std::u16string input() override;
    int16_t commEvent() override { return m_commEvent; }

    int16_t commPort() const { return m_port; }
    const SerialSettings& lineSettings() const { return m_settings; }
    size_t waiting() const { return m_buffer.size(); }

  private:
    void open();
    void close();
    void onReady(short revents);
    void raiseReceiveEvents();
    void raiseOnce();
    void watchForIdleLine();
    void cancelIdleTimer();

    EventLoop& m_loop;
    std::map<int16_t, std::string> m_bound;
    int16_t m_port = 1;
    SerialSettings m_settings;
    int16_t m_bufferSize = 1024;
    int16_t m_inputLen = 0;
    int16_t m_threshold = 0;
    int16_t m_commEvent = 0;
    std::string m_buffer; // bytes received, not yet taken by input()
    uint64_t m_reads = 0;
    UniqueFd m_fd;
    std::string m_device;
    std::optional<EventLoop::Id> m_watch;
    std::optional<EventLoop::Id> m_idleTimer;
    std::function<void(const AutomationError&)> m_onPortLost;
};

} // namespace tolvak::posix
