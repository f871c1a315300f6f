#include "tolvak/serve/hub.h"

#include "tolvak/output/text_format.h"

namespace tolvak::cli::web {

Message message(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

Event event(const std::string& type, std::optional<uint64_t> id, const std::string& json) {
    return {message(sseEvent(type, id, json)), message(webSocketTextFrame(json))};
}

Hub::Hub(net::io_context& io, std::vector<std::string> scales, size_t defaultScale)
    : m_io(io), m_flushTimer(io), m_default(defaultScale) {
    for (std::string& name : scales) {
        ScaleState state;
        state.name = std::move(name);
        state.portEvent = event("port", std::nullopt, portMessage({}, &state.name));
        state.plainPort = event("port", std::nullopt, portMessage({}));
        m_scales.push_back(std::move(state));
    }
}

void Hub::add(const std::shared_ptr<Subscriber>& subscriber) {
    m_subscribers.push_back(subscriber);
    // A new client learns at once where things stand.
    const Interest& interest = subscriber->interest();
    if (interest.plain) {
        const ScaleState& state = m_scales[m_default];
        subscriber->deliver(state.plainPort);
        if (state.plainReading.sse) subscriber->deliver(state.plainReading);
    }
    for (size_t scale : interest.scales) {
        const ScaleState& state = m_scales[scale];
        subscriber->deliver(state.portEvent);
        if (state.readingEvent.sse) subscriber->deliver(state.readingEvent);
    }
    subscriber->flush();
}

void Hub::reading(size_t scale, const Reading& reading) {
    ScaleState& state = m_scales[scale];
    state.latest = reading;
    ++state.seq;
    state.readingEvent =
        event("reading", state.seq, readingMessage(reading, state.seq, &state.name));
    if (scale == m_default)
        state.plainReading = event("reading", state.seq, readingMessage(reading, state.seq));
    publish(scale, state.readingEvent, state.plainReading);
}

void Hub::port(size_t scale, const PortStatus& port) {
    ScaleState& state = m_scales[scale];
    state.port = port;
    state.portEvent = event("port", std::nullopt, portMessage(port, &state.name));
    if (scale == m_default) state.plainPort = event("port", std::nullopt, portMessage(port));
    publish(scale, state.portEvent, state.plainPort);
}

std::string Hub::weightAnswer(size_t scale) const {
    const ScaleState& state = m_scales[scale];
    return cli::weightAnswer(state.latest ? &*state.latest : nullptr, state.seq, state.port,
                             std::chrono::system_clock::now());
}

std::string Hub::scalesAnswer() const {
    const auto now = std::chrono::system_clock::now();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ScaleState& state : m_scales) {
        nlohmann::ordered_json scale;
        scale["name"] = state.name;
        scale["device"] = state.port.device;
        scale.update(
            weightObject(state.latest ? &*state.latest : nullptr, state.seq, state.port, now));
        list.push_back(std::move(scale));
    }
    nlohmann::ordered_json answer;
    answer["default"] = m_scales[m_default].name;
    answer["scales"] = std::move(list);
    return jsonText(answer);
}

void Hub::heartbeat() {
    static const Event comment{message(":\n\n"), nullptr};
    const auto now = Clock::now();
    forEach([&](Subscriber& s) {
        s.checkWriteDeadline(now);
        s.deliver(comment);
        s.flush();
    });
}

void Hub::dropAll() {
    forEach([](Subscriber& s) { s.drop(); });
}

void Hub::publish(size_t scale, const Event& named, const Event& plain) {
    const bool isDefault = scale == m_default;
    forEach([&](Subscriber& s) {
        const Interest& interest = s.interest();
        if (isDefault && interest.plain) s.deliver(plain);
        if (interest.follows(scale)) s.deliver(named);
    });
    flushSoon();
}

void Hub::flushSoon() {
    if (m_flushPosted || m_flushTimed) return;
    if (Clock::now() >= m_nextFlush) {
        // Written after whatever else is queued for the server's thread: readings posted
        // together leave together, a reading alone at once.
        m_flushPosted = true;
        net::post(m_io, [this] {
            m_flushPosted = false;
            flush();
        });
        return;
    }
    m_flushTimed = true;
    m_flushTimer.expires_at(m_nextFlush);
    m_flushTimer.async_wait([this](ErrorCode ec) {
        m_flushTimed = false;
        if (!ec) flush();
    });
}

void Hub::flush() {
    // Writing takes at most about a tenth of the thread: the rest is for reading and requests.
    constexpr int kShare = 10;
    constexpr Clock::duration kLongestWait = std::chrono::milliseconds(10);
    const auto start = Clock::now();
    forEach([](Subscriber& s) { s.flush(); });
    m_flushCost += (Clock::now() - start - m_flushCost) / 8;
    m_nextFlush = start + std::min<Clock::duration>(m_flushCost * kShare, kLongestWait);
}

template <class F> void Hub::forEach(F f) {
    // Gone and dropped clients leave the list in place: this runs for every event, so no list
    // is made and freed each time.
    m_subscribers.erase(std::remove_if(m_subscribers.begin(), m_subscribers.end(),
                                       [](const std::weak_ptr<Subscriber>& weak) {
                                           const auto s = weak.lock();
                                           return !s || s->closed();
                                       }),
                        m_subscribers.end());
    // By index: f never adds a client, and each is held while f runs.
    for (size_t i = 0; i < m_subscribers.size(); ++i)
        if (const auto s = m_subscribers[i].lock()) f(*s);
}

} // namespace tolvak::cli::web
