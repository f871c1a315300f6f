#pragma once

#include <string_view>

#include "acquisition/line_settings.h"
#include "tolvak/detect/detect.h"

namespace tolvak::cli {

// What a UART set to `receiver` makes of `bytes` sent back to back by a UART set to `sender`:
// the line is idle (mark) before and after, the receiver starts a character at every falling
// edge and samples each bit in its middle at its own rate. A stop bit sampled as space is a
// framing error, a parity bit that does not match a parity error; the character is delivered
// either way, marked, as the Linux serial driver does. After a framing error the receiver waits
// for the line to go back to mark before it looks for the next start bit.
LineCapture resampleUart(std::string_view bytes, const SerialSettings& sender,
                         const SerialSettings& receiver);

} // namespace tolvak::cli
