#pragma once

#include <string>

namespace tolvak::cli {

// The token that requests for commands must bear (serve --token-file): 32 random bytes in hex.
std::string newToken();
// The token in the file: its first line, blanks around it dropped. Throws std::runtime_error
// when the file cannot be read or holds none.
std::string readToken(const std::string& path);

} // namespace tolvak::cli
