#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// The port number in a COM port name as people write it: "COM3", "com3", "\\.\COM12"; none for
// anything else.
std::optional<int> comPortNumber(std::string_view name);

// A COM port written to at a line rate (8 data bits, no parity, one stop bit), as a simulated
// indicator does.
class ComPortWriter {
  public:
    // Throws std::system_error (with the system's text) when the port cannot be opened or set.
    ComPortWriter(const std::string& name, uint32_t baud);

    // The bytes the line took (0: it took none in time, nobody reads); none once the port is gone.
    std::optional<size_t> write(std::string_view bytes);

  private:
    UniqueFile m_port;
};

} // namespace tolvak::win32
