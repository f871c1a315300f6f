#pragma once

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "control/method_table.h"
#include "control/tolvak.h"
#include "platform/posix/console_msg_box.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/posix_control.h"
#include "platform/posix/pseudo_terminal.h"
#include "platform/posix/serial_control_posix.h"

namespace tolvak::testing {

// Writes all of bytes to a blocking-or-not descriptor, waiting while the line is full.
inline bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

struct ShownBox {
    std::string title;
    std::string prompt;
    uint32_t flags;
};

// A control on the real Linux platform whose port 1 is a fresh pseudo-terminal; the test holds
// the master side and plays the indicator. Records every display write, every receive event's
// chunk and every message box.
class PtyRig : public SurfaceObserver {
  public:
    // bindPort false: the port number keeps its own device (/dev/ttyS{N-1}).
    explicit PtyRig(const std::vector<std::pair<std::u16string, Variant>>& settings = {},
                    bool bindPort = true)
        : pty(posix::PseudoTerminal::open()),
          platform(loop,
                   std::make_unique<posix::ConsoleMsgBox>(
                       [this](const std::string& title, const std::string& prompt, uint32_t flags) {
                           boxes.push_back({title, prompt, flags});
                       })),
          serial(&platform.serial()), control(&platform.control()) {
        for (const auto& [setter, value] : settings)
            control->invoke(findMethod(setter)->dispid, {value});
        if (bindPort) serial->bindDevice(control->state().portNum, pty.slavePath());
        control->surface().setObserver(this);
    }

    void textChanged(ChildId id, std::u16string_view text) override {
        if (id == ChildId::lblNumber) displays.emplace_back(text);
        if (id == ChildId::OutMsg) chunks.emplace_back(text);
        if (onText) onText(id);
    }

    void write(std::string_view bytes) { ASSERT_TRUE(writeAll(pty.master(), bytes)); }

    // Runs the loop until done() holds; false when 5 s pass first.
    template <typename Done>
    bool runUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = posix::EventLoop::Clock::now() + limit;
        while (!done()) {
            if (posix::EventLoop::Clock::now() >= deadline) return false;
            loop.runOnce(deadline);
        }
        return true;
    }

    posix::EventLoop loop;
    posix::PseudoTerminal pty;
    std::vector<ShownBox> boxes;
    posix::PosixControl platform; // detaches the observer when it goes
    posix::PosixSerialControl* serial;
    Tolvak* control;
    std::vector<std::u16string> displays;
    std::vector<std::u16string> chunks;
    std::function<void(ChildId)> onText;
};

} // namespace tolvak::testing
