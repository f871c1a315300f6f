#pragma once

#include <cstdint>
#include <string>

namespace tolvak {

// The per-instance record: thirteen settings the host stores through the set... methods, and
// three working texts. Settings are stored as given; they are checked only where they are used.
struct ControlState {
    int16_t decimals = 0;
    int16_t eloadPrebits = 0;
    int16_t eloadBits = 0;
    int16_t bufferLength = 0;
    int16_t newLineSep = 0;
    int16_t enterKeySep = 0;
    std::u16string otherSep;
    int16_t reverseFrame = 0;
    int16_t portNum = 0;
    std::u16string baudRate;
    int16_t dataBits = 0;
    std::u16string parity;
    int16_t stopBits = 0;

    std::u16string commSettings;
    std::u16string debugInfo;
    std::u16string rawData;
};

} // namespace tolvak
