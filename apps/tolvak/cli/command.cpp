#include "tolvak/cli/command.h"

#include <cstdint>

namespace tolvak::cli {

int exitStatus(int loopStatus) {
    return loopStatus >= 128 ? kExitOk : loopStatus;
}

std::chrono::milliseconds seconds(double s) {
    return std::chrono::milliseconds(static_cast<int64_t>(s * 1000));
}

} // namespace tolvak::cli
