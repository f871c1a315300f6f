#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvak::cli {

// What a receiver got from the line: the bytes, and which of them came with a framing or parity
// error (positions in bytes).
struct LineCapture {
    std::string bytes;
    std::vector<size_t> errors;
};

// Bytes read with PARMRK on: "\377\0c" is c received with an error, "\377\377" a 0xFF byte,
// "\377\0\0" a break (kept as a NUL with an error).
LineCapture unmarkErrors(std::string_view marked);

} // namespace tolvak::cli
