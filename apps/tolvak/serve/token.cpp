#include "tolvak/serve/token.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace tolvak::cli {

std::string newToken() {
    // random_device is the system's generator (/dev/urandom, the Windows CSPRNG).
    std::random_device random;
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 8; ++i) {
        const uint32_t word = random();
        for (int shift = 28; shift >= 0; shift -= 4)
            token += kHex[(word >> shift) & 0xF];
    }
    return token;
}

std::string readToken(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line))
        throw std::runtime_error(path + ": cannot be read (tolvak token " + path + " makes one)");
    const size_t first = line.find_first_not_of(" \t\r");
    const size_t last = line.find_last_not_of(" \t\r");
    if (first == std::string::npos) throw std::runtime_error(path + ": holds no token");
    return line.substr(first, last - first + 1);
}

} // namespace tolvak::cli
