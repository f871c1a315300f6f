#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvak::win32 {

// A serial settings text such as " 2400,n, 8 , 1", taken apart. Stop bits are counted in halves
// so that 1.5 is exact.
struct SerialSettings {
    uint32_t baudRate = 9600;
    char16_t parity = u'N'; // N, E, O, M or S
    uint8_t dataBits = 8;
    uint8_t stopHalfBits = 2; // 2, 3 or 4: 1, 1.5 or 2 stop bits

    bool operator==(const SerialSettings& o) const {
        return baudRate == o.baudRate && parity == o.parity && dataBits == o.dataBits &&
               stopHalfBits == o.stopHalfBits;
    }
};

// Four comma-separated fields: baud rate, parity letter (either case), data bits 5 to 8, stop
// bits 1, 1.5 or 2; blanks around each field are allowed. Nothing for any other text.
std::optional<SerialSettings> parseSerialSettings(std::u16string_view text);

} // namespace tolvak::win32
