#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/line_settings.h"
#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// The port number in a COM port name as people write it: "COM3", "com3", "\\.\COM12"; none for
// anything else.
std::optional<int> comPortNumber(std::string_view name);

// A COM port written to (and read, for the host's commands) at a line rate (8 data bits, no parity, one stop bit), as a simulated
// indicator does.
// A COM port listened to at the given line settings, as detect tries them one after another:
// what arrives in a while, with the bytes the port flagged (framing, parity, overrun, break)
// marked.
class ComPortListener {
  public:
    explicit ComPortListener(const std::string& name); // throws std::system_error
    // Sets the line, throws away what waited, and listens for `time`; bytes, and the positions
    // of the ones that came with an error. Throws std::system_error when the port goes away.
    std::pair<std::string, std::vector<size_t>> listen(const SerialSettings& line,
                                                       std::chrono::milliseconds time,
                                                       size_t limit);

  private:
    std::string m_name;
    UniqueFile m_port;
};

class ComPortWriter {
  public:
    // Throws std::system_error (with the system's text) when the port cannot be opened or set.
    ComPortWriter(const std::string& name, uint32_t baud);

    // The bytes the line took (0: it took none in time, nobody reads); none once the port is gone.
    std::optional<size_t> write(std::string_view bytes);
    // What the host sent and waits in the port, without waiting for more (0: nothing).
    size_t read(char* buffer, size_t size);

  private:
    UniqueFile m_port;
};

} // namespace tolvak::win32
