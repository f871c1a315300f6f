#pragma once

#include <stdexcept>

namespace tolvak::cli {

// Bad command-line input: one line for the user, exit status 64.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

} // namespace tolvak::cli
