#pragma once

#include <unistd.h>

#include "base/unique_handle.h"

namespace tolvak::posix {

struct FdTraits {
    using Handle = int;
    static constexpr int invalid() { return -1; }
    static void close(int fd) { ::close(fd); }
};

using UniqueFd = UniqueHandle<FdTraits>;

} // namespace tolvak::posix
