#include "tolvak/serve/shared_state.h"

#include <algorithm>

#include <boost/asio/post.hpp>

namespace tolvak::cli::web {

void SharedState::reading(size_t scale, const Reading& r) {
    hub.reading(scale, r);
    desks[scale]->desk.reading(r);
    pumpCommands(scale);
}

void SharedState::pumpCommands(size_t scale) {
    CommandDesk& desk = desks[scale]->desk;
    net::steady_timer& deskTimer = desks[scale]->timer;
    const auto now = Clock::now();
    desk.expire(now);
    if (auto due = desk.due(now)) {
        writeCommand(scale, due->name,
                     [this, scale, executor = deskTimer.get_executor(),
                      id = due->id](std::optional<std::string> error) {
                         // Taken on the writer's thread, right after the write.
                         const auto at = std::chrono::system_clock::now();
                         net::post(executor, [this, scale, id, error, at] {
                             desks[scale]->desk.sent(id, error, at);
                             pumpCommands(scale);
                         });
                     });
    }
    const auto wake = desk.wakeAt();
    if (!wake) return;
    deskTimer.expires_at(std::max(*wake, now));
    deskTimer.async_wait([this, scale](ErrorCode ec) {
        if (!ec) pumpCommands(scale);
    });
}

bool OnceEach::first(const std::string& line) {
    if (!m_seen.insert(line).second) return false;
    m_order.push_back(line);
    if (m_order.size() > m_limit) {
        m_seen.erase(m_order.front());
        m_order.pop_front();
    }
    return true;
}

void SharedState::tell(const std::string& line) {
    if (notice && noticed.first(line)) notice(line);
}

} // namespace tolvak::cli::web
