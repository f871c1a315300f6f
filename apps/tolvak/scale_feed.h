#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>

#include "acquisition/stable_weight.h"
#include "tolvak/cli_args.h"
#include "tolvak/reading.h"
#include "tolvak/session.h"

namespace tolvak::cli {

struct FeedOptions {
    StableSettings stable;
    // Keep going when the port cannot be opened or goes away: retry every retryInterval.
    bool follow = false;
    std::chrono::milliseconds retryInterval{1000};
};

// --stable-window and --stable-tolerance.
const std::vector<OptionDef>& stableOptionDefs();
// The feed's options from the command line: the stable settings and --follow.
FeedOptions feedOptions(const ParsedArgs& args);

// The control reading one port, as a stream of readings (with the stable flag) and port states.
// Everything runs on the thread that runs loop().
class ScaleFeed : public SurfaceObserver {
  public:
    // args: the control options (checked by the caller). Message boxes go to err.
    ScaleFeed(const ParsedArgs& args, FeedOptions options, std::ostream& err);
    ~ScaleFeed() override;

    posix::EventLoop& loop() { return m_session.loop; }
    Tolvak& control() { return *m_session.control; }
    const PortStatus& port() const { return m_port; }

    void setOnReading(std::function<void(const Reading&)> handler) {
        m_onReading = std::move(handler);
    }
    // Told of every change of the port's state or error text.
    void setOnPortStatus(std::function<void(const PortStatus&)> handler) {
        m_onPortStatus = std::move(handler);
    }

    // Opens the port. False when it could not be opened and the feed does not follow; the
    // port's state then says why.
    bool start();
    void stop();

    void textChanged(ChildId id, std::u16string_view text) override;

  private:
    void tryOpen();
    void portLost(const std::string& error);
    void setPort(PortStatus::State state, std::string error);
    void scheduleRetry();

    Session m_session;
    FeedOptions m_options;
    std::ostream& m_err;
    StableWeight m_stable;
    PortStatus m_port;
    uint64_t m_seq = 0;
    std::string m_lastBox;
    std::string m_lastBoxShown;
    std::optional<posix::EventLoop::Id> m_retry;
    std::function<void(const Reading&)> m_onReading;
    std::function<void(const PortStatus&)> m_onPortStatus;
};

} // namespace tolvak::cli
