#pragma once

// What every connection of the server shares: who may come in, the limits, the places taken,
// the hub of readings and the desk of commands. All of it on the server's thread.

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "tolvak/serve/access.h"
#include "tolvak/serve/command_desk.h"
#include "tolvak/serve/hub.h"
#include "tolvak/serve/web_server.h"

namespace tolvak::cli::web {

class HttpSession;

// Lines told once each. The latest few hundred are remembered and the oldest forgotten, so that
// requests from ever new origins cost bounded memory (a forgotten line is told again).
class OnceEach {
  public:
    explicit OnceEach(size_t limit) : m_limit(limit) {}
    bool first(const std::string& line);

  private:
    size_t m_limit;
    std::deque<std::string> m_order;
    std::unordered_set<std::string> m_seen;
};

// One scale's commands: its own line, so its own desk.
struct ScaleDesk {
    ScaleDesk(net::io_context& io, const ServerLimits& l)
        : desk({l.commandQueue, l.commandInterval, l.commandTimeout}), timer(io) {}
    CommandDesk desk;
    net::steady_timer timer;
};

struct SharedState {
    SharedState(net::io_context& io, AccessPolicy p, ServerLimits l,
                std::vector<std::string> scaleNames, size_t defaultScale)
        : policy(std::move(p)), limits(l), names(scaleNames),
          hub(io, std::move(scaleNames), defaultScale), commands(names.size()) {
        for (size_t i = 0; i < names.size(); ++i)
            desks.push_back(std::make_unique<ScaleDesk>(io, limits));
    }
    AccessPolicy policy;
    ServerLimits limits;
    std::shared_ptr<Counter> connections = std::make_shared<Counter>();
    std::shared_ptr<Counter> streams = std::make_shared<Counter>();
    std::vector<std::string> names; // the scales, in the server's order
    Hub hub;
    // Plain HTTP connections, for the one to let go when every place is taken.
    std::vector<std::weak_ptr<HttpSession>> sessions;
    std::vector<std::vector<std::string>> commands; // offered, by scale
    WebServer::Write writeCommand;
    std::function<std::string()> token;
    std::vector<std::unique_ptr<ScaleDesk>> desks;  // by scale
    std::function<void(const std::string&)> notice; // the operator's log, one line
    OnceEach noticed{256};

    Places places() const { return {connections, streams}; }
    void reading(size_t scale, const Reading& r);
    // Tells the operator a line not told recently.
    void tell(const std::string& line);
    // Writes what is due, answers what is late, and wakes again when the desk next has work.
    void pumpCommands(size_t scale);
};

} // namespace tolvak::cli::web
