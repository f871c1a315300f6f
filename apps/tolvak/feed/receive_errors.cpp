#include "tolvak/feed/receive_errors.h"

#include <ostream>

#include "text/utf8.h"
#include "tolvak/output/text_format.h"

namespace tolvak::cli {

ReceiveErrorReport::ReceiveErrorReport(std::string command, std::ostream& err, std::ostream* json,
                                       std::function<Clock::time_point()> now)
    : m_command(std::move(command)), m_err(err), m_json(json), m_now(std::move(now)) {}

void ReceiveErrorReport::show(const AutomationError& error) {
    const Clock::time_point now = m_now();
    // Errors not seen for a second may be shown again; forgetting them keeps the table small.
    for (auto it = m_lastShown.begin(); it != m_lastShown.end();)
        it = now - it->second >= kRepeatAfter ? m_lastShown.erase(it) : std::next(it);
    if (!m_lastShown.try_emplace({error.number(), error.description()}, now).second) return;

    m_err << "tolvak " << m_command << ": receive error " << error.number() << ": "
          << toUtf8(error.description()) << '\n'
          << std::flush;
    if (m_json) *m_json << errorJson(error, std::chrono::system_clock::now()) << '\n' << std::flush;
}

} // namespace tolvak::cli
