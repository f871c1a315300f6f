#pragma once

#include <string>

namespace tolvak::cli {

// The serial port as the clients of a long-running reader see it.
struct PortStatus {
    // waiting: for a device that is not there (yet); blocked: the port cannot be opened until
    // the user changes something (hint says what), though a following feed still retries.
    enum class State { closed, connected, waiting, blocked };
    State state = State::closed;
    std::string device;
    std::string error; // why the port is not open: the system's reason; empty when connected
    std::string hint;  // what to do about it; empty when nothing is known
    // While connected: what is wrong with what comes in (bytes that read as no weight).
    std::string diagnosis;
};

const char* stateName(PortStatus::State state);

} // namespace tolvak::cli
