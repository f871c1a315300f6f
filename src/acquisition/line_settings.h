#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvak {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct SerialSettings {
    uint32_t baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    bool operator==(const SerialSettings& other) const {
        return baud == other.baud && parity == other.parity && dataBits == other.dataBits &&
               stopBits == other.stopBits;
    }
};

// The serial settings text "baud,parity,data,stop", taken apart for the serial backends, in the
// form the control builds it (" 2400,n, 8 , 1"): blanks around each piece are allowed, the parity letter is n, e, o, m or s
// in either case, data bits 5 to 8, stop bits 1, 1.5 or 2. Anything else gives nothing.
std::optional<SerialSettings> parseSettingsText(std::u16string_view text);

// How long a line must stay silent before fewer characters than the receive threshold are handed
// over: three character times, and never under 2 ms.
std::chrono::milliseconds lineQuietTime(uint32_t baud);

} // namespace tolvak
