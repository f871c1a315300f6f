#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/tolvak.h"
#include "tolvak/scale.h"

namespace tolvak {

// What a Scale needs of its platform: a control whose serial component reads the line, and a
// loop that delivers the control's events on the calling thread and that stop() can wake. Every
// rule about readings, stops and errors stays with the Scale; a platform only waits and wakes.
class ScaleLoop {
  public:
    using Clock = std::chrono::steady_clock;

    virtual ~ScaleLoop() = default;

    virtual Tolvak& control() = 0;
    // The device to open for the control's port number, in place of the platform's own name.
    virtual void bindDevice(int16_t port, const std::string& device) = 0;
    // The device went away under the open port; the port is closed by then.
    virtual void onPortLost(std::function<void(const AutomationError&)> callback) = 0;

    // Handles what is ready or due, waiting for it at most until deadline (none: no limit);
    // returns early once wake() is called, or at once when it was called since the last wait.
    virtual void wait(std::optional<Clock::time_point> deadline) = 0;
    // Handles what is ready or due now without waiting; takes no wake-up.
    virtual void poll() = 0;
    // Ends the current or next wait(). From any thread and from a signal handler.
    virtual void wake() noexcept = 0;

    // What another program's loop waits on in place of wait(): never the wake-up itself.
    virtual std::vector<Scale::PollDescriptor> pollDescriptors() const = 0;
    virtual std::optional<Clock::time_point> nextDue() const = 0;
};

// The loop of the platform the library is built for.
std::unique_ptr<ScaleLoop> makeScaleLoop();

} // namespace tolvak
