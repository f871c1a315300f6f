#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvak::cli {

// One write of the weight display, as the tool hands it on.
struct Reading {
    uint64_t seq = 0;            // 1 for the first reading of the run, then counting up
    std::u16string weight;       // the display text
    std::optional<double> value; // the text as a number, when it is one
    bool stable = false;
    std::chrono::system_clock::time_point time;
};

// The serial port as the clients of a long-running reader see it.
struct PortStatus {
    enum class State { closed, connected, waiting };
    State state = State::closed;
    std::string device;
    std::string error; // why the port is not open: the system's reason; empty when connected
};

const char* stateName(PortStatus::State state);

} // namespace tolvak::cli
