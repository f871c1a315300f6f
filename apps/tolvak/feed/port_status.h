#pragma once

#include <string>

namespace tolvak::cli {

// The serial port as the clients of a long-running reader see it.
struct PortStatus {
    enum class State { closed, connected, waiting };
    State state = State::closed;
    std::string device;
    std::string error; // why the port is not open: the system's reason; empty when connected
};

const char* stateName(PortStatus::State state);

} // namespace tolvak::cli
