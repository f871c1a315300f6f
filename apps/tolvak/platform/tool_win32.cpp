// The tool on Windows: a message loop, COM ports, the console's control events.
#include "tolvak/platform/tool_platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winsock2.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <system_error>

#include "platform/win32/com_port.h"
#include "platform/win32/console_stop.h"
#include "platform/win32/message_loop.h"
#include "platform/win32/serial_control_win32.h"
#include "platform/win32/sockets_win32.h"
#include "platform/win32/timer_control_win32.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_error.h"
#include "text/utf8.h"
#include "tolvak/platform/usage_error.h"

namespace tolvak::cli {

namespace {

// A loop of the tool's own: the console's stop events end it.
class Win32ToolLoop : public ToolLoopOn<win32::MessageLoop> {
  public:
    Win32ToolLoop() : ToolLoopOn(m_own) {}
    void stop() override { m_own.requestStop(); }

  private:
    win32::MessageLoop m_own;
};

} // namespace

void prepareConsole() {
    // The same bytes as on Linux: UTF-8, and "\n" not turned into "\r\n".
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::unique_ptr<ToolLoop> makeLoop() {
    return std::make_unique<Win32ToolLoop>();
}

// The serial port and Timer1 post to windows of this thread, which the loop's thread runs.
std::unique_ptr<Tolvak> makeControl(ToolLoop&, std::unique_ptr<MsgBox> msgBox) {
    return std::make_unique<Tolvak>(
        Platform{std::make_unique<win32::SerialControlWin32>(),
                 std::make_unique<win32::TimerControlWin32>(), std::move(msgBox),
                 std::make_unique<win32::SocketsWin32>(), std::make_unique<ClockRandom>()});
}

std::unique_ptr<SocketsApi> makeSockets() {
    return std::make_unique<win32::SocketsWin32>();
}

std::string defaultDeviceName(int port) {
    return "COM" + std::to_string(port);
}

PortTrouble portTrouble(const std::error_code& code) {
    if (code.category() != std::system_category()) return PortTrouble::unknown;
    switch (static_cast<DWORD>(code.value())) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NOT_READY:
        return PortTrouble::missing;
    // A COM port is opened for one program at a time: denied means another has it.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return PortTrouble::busy;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_FUNCTION:
    case ERROR_BAD_UNIT:
        return PortTrouble::notSerial;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        return PortTrouble::settings;
    default:
        return PortTrouble::unknown;
    }
}

std::string systemMessage(const std::error_code& code) {
    return toUtf8(win32::systemMessage(static_cast<DWORD>(code.value())));
}

int32_t controlErrorNumber(const std::error_code& code) {
    return win32::fromWin32(static_cast<DWORD>(code.value()), u"").number();
}

std::string permissionHint(const std::string&) {
    return "run it as a user allowed to use the port; for the service, its account";
}

void watchStopRequests(void (*request)(int signo)) {
    // The system calls the console's handler on a thread of its own.
    static std::atomic<void (*)(int)> s_request{nullptr};
    s_request = request;
    win32::setConsoleStopHandler([] { s_request.load()(SIGINT); });
}

FrameLine openFrameLine(const std::optional<std::string>& device, uint32_t baud) {
    if (!device) throw UsageError("needs --device COMn: Windows has no pseudo-terminals");
    auto port = std::make_shared<win32::ComPortWriter>(*device, baud);
    return FrameLine{[port](std::string_view bytes) { return port->write(bytes); },
                     [port](char* buffer, size_t size) { return port->read(buffer, size); }, "",
                     port};
}

LineListener openLineListener(const std::string& device, std::chrono::milliseconds time) {
    auto port = std::make_shared<win32::ComPortListener>(device);
    return [port, time](const SerialSettings& line) {
        auto [bytes, errors] = port->listen(line, time, size_t(1) << 20);
        return LineCapture{std::move(bytes), std::move(errors)};
    };
}

std::optional<int> inheritedListener() {
    return std::nullopt; // the service manager hands over no sockets
}

void claimListenAddress(std::intptr_t socket) {
    // SO_REUSEADDR here would let any local program bind the same port and take connections
    // meant for the service; exclusive use keeps the port the service's alone.
    const BOOL on = TRUE;
    if (setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0)
        throw std::system_error(WSAGetLastError(), std::system_category(), "SO_EXCLUSIVEADDRUSE");
}

void writePrivateFile(const std::string& path, const std::string& content) {
    const auto fail = [](const std::string& what) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
    };
    const std::u16string wide16 = fromUtf8(path);
    const std::wstring target(wide16.begin(), wide16.end());
    const std::wstring temporary = target + L".new";
    // Its owner, SYSTEM and the administrators, nobody else; ReplaceFileW below gives a file
    // that is replaced the access list it had (the service's reading right among it).
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;FA;;;OW)(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr))
        fail("cannot make the access list");
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    win32::UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, &attributes,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LocalFree(descriptor);
    if (!file.valid()) fail("cannot create " + path + ".new");
    DWORD written = 0;
    const bool wrote = WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                                 &written, nullptr) &&
                       written == content.size() && FlushFileBuffers(file.get());
    const DWORD writeError = GetLastError();
    file.reset();
    if (!wrote) {
        DeleteFileW(temporary.c_str());
        SetLastError(writeError);
        fail("cannot write " + path + ".new");
    }
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES
            ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr)
            : MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return;
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    SetLastError(error);
    fail("cannot replace " + path);
}

} // namespace tolvak::cli
