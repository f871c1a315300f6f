// The Scale's loop on Linux: the control on a poll loop, stop() through a self-pipe.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

#include "api/scale_loop.h"
#include "platform/posix/posix_control.h"
#include "platform/posix/unique_fd.h"

namespace tolvak {

namespace {

class PosixScaleLoop final : public ScaleLoop {
  public:
    PosixScaleLoop()
        : m_control(m_loop, std::make_unique<posix::ConsoleMsgBox>(posix::ConsoleMsgBox::Sink{})) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error("tolvak: no pipe for the scale's wake-ups");
        m_wakeRead.reset(fds[0]);
        m_wakeWrite.reset(fds[1]);
    }

    Tolvak& control() override { return m_control.control(); }
    void bindDevice(int16_t port, const std::string& device) override {
        m_control.serial().bindDevice(port, device);
    }
    void onPortLost(std::function<void(const AutomationError&)> callback) override {
        m_control.serial().setOnPortLost(std::move(callback));
    }

    // The wake-up pipe is watched only here, so a program's own poll loop is never woken by a
    // descriptor that process() leaves unread.
    void wait(std::optional<Clock::time_point> deadline) override {
        struct Unwatch {
            posix::EventLoop& loop;
            posix::EventLoop::Id id;
            ~Unwatch() { loop.unwatch(id); }
        } unwatch{m_loop, m_loop.watch(m_wakeRead.get(), POLLIN, [this](short) {
                      char bytes[64];
                      while (::read(m_wakeRead.get(), bytes, sizeof bytes) > 0) {
                      }
                      m_loop.quit(0);
                  })};
        m_loop.resume();
        m_loop.runOnce(deadline);
    }

    void poll() override {
        m_loop.resume();
        m_loop.runOnce(Clock::now());
    }

    void wake() noexcept override {
        // Only write(2): safe in a signal handler and from any thread.
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(m_wakeWrite.get(), &byte, 1);
    }

    std::vector<Scale::PollDescriptor> pollDescriptors() const override {
        std::vector<Scale::PollDescriptor> out;
        for (const auto& d : m_loop.descriptors())
            out.push_back({d.fd, d.events});
        return out;
    }
    std::optional<Clock::time_point> nextDue() const override { return m_loop.nextDue(); }

  private:
    posix::EventLoop m_loop;
    posix::PosixControl m_control;
    posix::UniqueFd m_wakeRead;
    posix::UniqueFd m_wakeWrite;
};

} // namespace

std::unique_ptr<ScaleLoop> makeScaleLoop() {
    return std::make_unique<PosixScaleLoop>();
}

} // namespace tolvak
