#pragma once

#include <functional>

namespace tolvak::cli {

// The one way a running command is stopped from outside: Ctrl-C, SIGTERM and the console's close
// events (through the platform's watchStopRequests) and the service manager all come here, and
// the command says how it stops while it runs.
class StopRequest {
  public:
    // The service manager's stop, from any thread. A request made before the command registers
    // is kept, so that it stops at once.
    static void request();
    // A stop signal or console event, from the platform's watcher thread. With no command
    // registered the process ends as the signal would have ended it.
    static void signal(int signo);

    // While this lives, a request calls stop (at once, when a request came already). stop must
    // be safe to call from any thread.
    class Registration {
      public:
        explicit Registration(std::function<void()> stop);
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
    };
};

} // namespace tolvak::cli
