#pragma once

#include <functional>

namespace tolvak::cli {

// A stop asked for from outside the running command (the service manager): the command says how
// it stops while it runs. A request made before it does is kept, so that it stops at once.
class StopRequest {
  public:
    // From any thread.
    static void request();

    // While this lives, request() calls stop (at once, when a request came already).
    class Registration {
      public:
        explicit Registration(std::function<void()> stop);
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
    };
};

} // namespace tolvak::cli
