#pragma once

// What the commands need of the operating system beyond the public API, one implementation per
// system (tool_posix.cpp, tool_win32.cpp), picked by the build.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "acquisition/line_settings.h"
#include "base/msg_box.h"
#include "control/tolvak.h"
#include "tolvak/platform/line_capture.h"

namespace tolvak::cli {

// Sets up the console before any command runs: output in UTF-8, "\n" written as it stands, and
// closing the console window taken as a stop request.
void prepareConsole();

// This thread's event loop: timers and a stop, every callback on the thread that runs it.
class ToolLoop {
  public:
    using Id = int;
    virtual ~ToolLoop() = default;
    virtual Id startTimer(std::chrono::milliseconds interval, std::function<void()> onTick,
                          bool repeat = true) = 0;
    virtual void stopTimer(Id id) = 0;
    virtual void quit(int exitCode) = 0;
    // From any thread: run() returns, as after quit(kExitOk).
    virtual void stop() = 0;
    // Runs until quit() or stop().
    virtual int run() = 0;
};
std::unique_ptr<ToolLoop> makeLoop();

// A ToolLoop on a platform's own loop, which has these members under the same names; stop() is
// the system's own.
template <typename Loop> class ToolLoopOn : public ToolLoop {
  public:
    explicit ToolLoopOn(Loop& loop) : m_loop(loop) {}
    Id startTimer(std::chrono::milliseconds interval, std::function<void()> onTick,
                  bool repeat) override {
        return m_loop.startTimer(interval, std::move(onTick), repeat);
    }
    void stopTimer(Id id) override { m_loop.stopTimer(id); }
    void quit(int exitCode) override { m_loop.quit(exitCode); }
    int run() override { return m_loop.run(); }
    Loop& loop() { return m_loop; }

  private:
    Loop& m_loop;
};

// A control on this system's serial port, Timer1 and sockets, its events on loop (made by
// makeLoop), its message boxes to msgBox.
std::unique_ptr<Tolvak> makeControl(ToolLoop& loop, std::unique_ptr<MsgBox> msgBox);
std::unique_ptr<SocketsApi> makeSockets();

// The device a port number opens when no --device names one.
std::string defaultDeviceName(int port);

// What keeps a port from opening, as far as the system's own code tells. missing goes away by
// itself (a device not plugged in yet, or unplugged); the others last until the user changes
// something.
enum class PortTrouble { unknown, missing, denied, notSerial, settings, busy };
PortTrouble portTrouble(const std::error_code& code);
// The system's own words for the code, in English where the system has them.
std::string systemMessage(const std::error_code& code);
// The control's error number for a system error (8002 for a missing device...).
int32_t controlErrorNumber(const std::error_code& code);
// What to do when this user may not open device (Linux: the dialout group).
std::string permissionHint(const std::string& device);

// From now on Ctrl-C, SIGTERM and the console's close events call request, on a thread of its own
// (never inside a signal handler).
void watchStopRequests(void (*request)(int signo));

// A serial line the simulated indicator writes to. write() returns the bytes taken (0: the line
// is full), or none when the line is gone.
using LineWriter = std::function<std::optional<size_t>(std::string_view bytes)>;
// Reads what the host sent on the line, without waiting: the bytes read, 0 when none wait.
using LineReader = std::function<size_t(char* buffer, size_t size)>;
struct FrameLine {
    LineWriter write;
    LineReader read;
    std::string name;             // what to print for the user, when not the device asked for
    std::shared_ptr<void> handle; // keeps the line open
};
// The device given (a path or port name) at baud, or a new line of the system's own when none
// (a pseudo-terminal); throws std::system_error when it cannot be opened.
FrameLine openFrameLine(const std::optional<std::string>& device, uint32_t baud);

// A live port held for detect's search: each call sets the line as given and returns what came in
// `time`, with the bytes received with a framing or parity error marked. Throws std::system_error
// when the port cannot be opened or goes away.
using LineListener = std::function<LineCapture(const SerialSettings& line)>;
LineListener openLineListener(const std::string& device, std::chrono::milliseconds time);

// The listening socket the service manager opened for serve and handed over (systemd's socket
// activation: one socket, descriptor 3, for this process), or none: serve then opens its own.
// Throws std::runtime_error when what was handed over is not one listening socket.
std::optional<int> inheritedListener();
// Sets a socket about to be bound for listening so that no other program can take the port
// beside it or while it restarts; throws std::system_error.
void claimListenAddress(std::intptr_t socket);

// Writes content to path in one step (a new file renamed over the old), readable by its owner
// alone, or by whoever could read the file it replaces. Throws std::system_error.
void writePrivateFile(const std::string& path, const std::string& content);

} // namespace tolvak::cli
