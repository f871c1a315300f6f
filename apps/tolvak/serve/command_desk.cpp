#include "tolvak/serve/command_desk.h"

#include <nlohmann/json.hpp>

#include "tolvak/output/text_format.h"

namespace tolvak::cli {

bool showsEffect(const std::string& command, const Reading& reading) {
    const bool zero = reading.value && *reading.value == 0;
    // Indicators that send no gross/net mode show a tare as a zero display.
    if (command == "tare")
        return reading.mode == WeightMode::Net || (reading.tare && *reading.tare != 0) ||
               (reading.mode == WeightMode::Unknown && zero);
    if (command == "zero") return zero && reading.mode != WeightMode::Net;
    return true;
}

bool CommandDesk::submit(std::string name, Answer answer) {
    if (m_waiting.size() >= m_limits.queue) return false;
    m_waiting.push_back({m_nextId++, std::move(name), std::move(answer), std::nullopt, {}});
    return true;
}

std::optional<CommandDesk::Due> CommandDesk::due(Clock::time_point now) {
    if (m_inFlight || m_waiting.empty()) return std::nullopt;
    if (m_lastStart && now < *m_lastStart + m_limits.interval) return std::nullopt;
    m_inFlight = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_inFlight->deadline = now + m_limits.timeout;
    m_lastStart = now;
    return Due{m_inFlight->id, m_inFlight->name};
}

void CommandDesk::sent(uint64_t id, const std::optional<std::string>& error,
                       std::chrono::system_clock::time_point at) {
    if (!m_inFlight || m_inFlight->id != id) return; // answered already (its time was up)
    if (error)
        return finish(502, jsonText({{"error", "the command could not be sent: " + *error}}));
    m_inFlight->writtenAt = at;
}

void CommandDesk::reading(const Reading& reading) {
    if (m_inFlight && m_inFlight->writtenAt && reading.time >= *m_inFlight->writtenAt &&
        showsEffect(m_inFlight->name, reading))
        finish(200, jsonText({{"reply", readingObject(reading)}}));
}

void CommandDesk::expire(Clock::time_point now) {
    if (!m_inFlight || now < m_inFlight->deadline) return;
    const std::string what = m_inFlight->name == "print"
                                 ? "no frame came from the indicator"
                                 : "no frame showed the " + m_inFlight->name;
    finish(504, jsonText({{"error", what + " in time"}}));
}

std::optional<CommandDesk::Clock::time_point> CommandDesk::wakeAt() const {
    if (m_inFlight) return m_inFlight->deadline;
    if (m_waiting.empty()) return std::nullopt;
    return m_lastStart ? *m_lastStart + m_limits.interval : Clock::time_point{};
}

void CommandDesk::cancelAll() {
    auto entries = std::move(m_waiting);
    m_waiting.clear();
    if (m_inFlight) finish(503, jsonText({{"error", "the server is stopping"}}));
    for (Entry& e : entries)
        e.answer(503, jsonText({{"error", "the server is stopping"}}));
}

void CommandDesk::finish(int status, std::string body) {
    Answer answer = std::move(m_inFlight->answer);
    m_inFlight.reset();
    answer(status, std::move(body));
}

} // namespace tolvak::cli
