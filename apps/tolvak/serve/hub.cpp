#include "tolvak/serve/hub.h"

namespace tolvak::cli::web {

Message message(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

Event event(const std::string& type, std::optional<uint64_t> id, const std::string& json) {
    return {message(sseEvent(type, id, json)), message(webSocketTextFrame(json))};
}

void Hub::add(const std::shared_ptr<Subscriber>& subscriber) {
    m_subscribers.push_back(subscriber);
    // A new client learns at once where things stand.
    subscriber->deliver(m_portEvent);
    if (m_readingEvent.sse) subscriber->deliver(m_readingEvent);
    subscriber->flush();
}

void Hub::reading(const Reading& reading) {
    m_latest = reading;
    ++m_seq;
    m_readingEvent = event("reading", m_seq, readingMessage(reading, m_seq));
    publish(m_readingEvent);
}

void Hub::port(const PortStatus& port) {
    m_port = port;
    m_portEvent = event("port", std::nullopt, portMessage(port));
    publish(m_portEvent);
}

void Hub::heartbeat() {
    static const Event comment{message(":\n\n"), nullptr};
    const auto now = Clock::now();
    forEach([&](Subscriber& s) {
        s.checkWriteDeadline(now);
        s.deliver(comment);
    });
    flushSoon();
}

void Hub::dropAll() {
    forEach([](Subscriber& s) { s.drop(); });
}

void Hub::publish(const Event& event) {
    forEach([&](Subscriber& s) { s.deliver(event); });
    flushSoon();
}

// An event after a pause (half a write interval since the one before) leaves at once, so a
// slow stream waits for nothing. Events that come faster leave together, one write per client
// each write interval.
void Hub::flushSoon() {
    const auto now = Clock::now();
    const bool afterPause = now - m_lastEvent >= m_writeInterval / 2;
    m_lastEvent = now;
    if (afterPause || now - m_lastFlush >= m_writeInterval) {
        m_lastFlush = now;
        flush();
        return;
    }
    if (m_flushPending) return;
    m_flushPending = true;
    m_flushTimer.expires_at(m_lastFlush + m_writeInterval);
    m_flushTimer.async_wait([this](ErrorCode ec) {
        m_flushPending = false;
        if (ec) return;
        m_lastFlush = Clock::now();
        flush();
    });
}

void Hub::flush() {
    forEach([](Subscriber& s) { s.flush(); });
}

template <class F> void Hub::forEach(F f) {
    std::vector<std::shared_ptr<Subscriber>> live;
    live.reserve(m_subscribers.size());
    for (auto& weak : m_subscribers)
        if (auto s = weak.lock(); s && !s->closed()) live.push_back(std::move(s));
    m_subscribers.assign(live.begin(), live.end());
    for (auto& s : live)
        f(*s);
}

} // namespace tolvak::cli::web
