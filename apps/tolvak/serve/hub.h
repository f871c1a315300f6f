#pragma once

// Everyone listening to the readings: each streaming client with its own bounded queue, and the
// hub that hands every event to all of them.

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "tolvak/feed/port_status.h"
#include "tolvak/scale.h"
#include "tolvak/serve/messages.h"
#include "tolvak/serve/net.h"
#include "tolvak/serve/web_server.h"

namespace tolvak::cli::web {

using Message = std::shared_ptr<const std::string>;

Message message(std::string text);

// One thing to tell every streaming client, made once in each client kind's form.
struct Event {
    Message sse; // a Server-Sent Event (or comment)
    Message ws;  // a whole WebSocket frame; null when WebSocket clients get nothing
};

Event event(const std::string& type, std::optional<uint64_t> id, const std::string& json);

struct Counter {
    size_t value = 0;
};

// Holds a place among connections or streams for as long as it lives.
class ClientSlot {
  public:
    explicit ClientSlot(std::shared_ptr<Counter> counter) : m_counter(std::move(counter)) {
        ++m_counter->value;
    }
    ~ClientSlot() { --m_counter->value; }
    ClientSlot(const ClientSlot&) = delete;
    ClientSlot& operator=(const ClientSlot&) = delete;

  private:
    std::shared_ptr<Counter> m_counter;
};

// The places a client holds: one among connections, and one among streams once it streams.
struct Places {
    std::shared_ptr<Counter> connections;
    std::shared_ptr<Counter> streams;
};

// Which scales a streaming client follows.
struct Interest {
    // The default scale's events as a single-scale server sends them, without its name.
    bool plain = true;
    std::vector<size_t> scales; // these scales' events, each naming its scale

    bool follows(size_t scale) const {
        return std::find(scales.begin(), scales.end(), scale) != scales.end();
    }
};

// A client that receives the stream of events, through its own bounded queue. Whatever is
// queued when a write starts leaves in that one write. A client whose queue passes the bound, or
// whose write does not finish in time, is dropped: it must never hold up the others or the
// reader.
class Subscriber : public std::enable_shared_from_this<Subscriber> {
  public:
    Subscriber(const ServerLimits& limits, Places places, tcp::socket socket)
        : m_limits(limits), m_connection(std::move(places.connections)),
          m_stream(std::move(places.streams)), m_socket(std::move(socket)) {
        // flush() tries a plain send first; the asynchronous operations are not affected.
        ErrorCode ignored;
        m_socket.non_blocking(true, ignored);
    }
    virtual ~Subscriber() = default;

    // Queues; the hub's flush() sends.
    void deliver(const Event& event) {
        if (const Message& text = pick(event)) enqueue(text);
    }

    void flush() {
        if (m_closed || m_writing || m_queue.empty()) return;
        m_writing = true;
        m_writeStarted = Clock::now();
        m_sending.swap(m_queue);
        m_buffers.clear();
        for (const Message& text : m_sending)
            m_buffers.push_back(net::buffer(*text));
        // What the socket takes at once leaves now. On Windows that spares the completion port
        // a round per client and reading (under Wine several calls into its server each); a
        // client that is slow to read gets the rest asynchronously.
        ErrorCode ec;
        size_t sent = m_socket.write_some(m_buffers, ec);
        if (ec && ec != net::error::would_block && ec != net::error::try_again) {
            drop();
            return;
        }
        if (!ec && sent == net::buffer_size(m_buffers)) {
            sentAll();
            return;
        }
        beast::buffers_suffix<std::vector<net::const_buffer>> rest(m_buffers);
        rest.consume(sent); // none when it would have blocked
        net::async_write(m_socket, rest,
                         [self = shared_from_this()](ErrorCode ec, size_t) { self->written(ec); });
    }

    // Bytes of the connection's own (a WebSocket control frame): after what is queued, at once.
    void send(Message bytes) {
        enqueue(bytes);
        flush();
    }

    // Shuts the sending side once everything queued has left; done is never called from here.
    void shutdownAfterWrites(std::function<void(ErrorCode)> done) {
        if (m_closed) {
            net::post(m_socket.get_executor(), [done] { done(net::error::operation_aborted); });
        } else if (m_writing || !m_queue.empty()) {
            m_afterWrites = std::move(done);
            flush();
        } else {
            ErrorCode ignored;
            m_socket.shutdown(tcp::socket::shutdown_send, ignored);
            net::post(m_socket.get_executor(), [done] { done({}); });
        }
    }

    void checkWriteDeadline(Clock::time_point now) {
        if (m_writing && now - m_writeStarted > m_limits.writeTimeout) drop();
    }

    bool closed() const { return m_closed; }
    const Interest& interest() const { return m_interest; }
    void setInterest(Interest interest) { m_interest = std::move(interest); }

    void drop() {
        if (m_closed) return;
        m_closed = true;
        m_queue.clear();
        m_queuedBytes = 0;
        ErrorCode ignored;
        m_socket.shutdown(tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
        if (auto done = std::exchange(m_afterWrites, nullptr))
            net::post(m_socket.get_executor(), [done] { done(net::error::operation_aborted); });
    }

    tcp::socket& socket() { return m_socket; }

  protected:
    virtual const Message& pick(const Event& event) const = 0;

  private:
    void enqueue(const Message& text) {
        if (m_closed) return;
        if (m_queuedBytes + text->size() > m_limits.clientBuffer) {
            drop();
            return;
        }
        m_queue.push_back(text);
        m_queuedBytes += text->size();
    }

    void written(ErrorCode ec) {
        m_writing = false;
        if (ec) {
            drop();
            return;
        }
        if (m_closed) return;
        sentAll();
        // A client that could not keep up gets all that piled up in the next write.
        if (!m_queue.empty()) flush();
    }

    // The write in flight has left whole. done is posted, never called from here, since flush()
    // gets here from its callers.
    void sentAll() {
        m_writing = false;
        for (const Message& text : m_sending)
            m_queuedBytes -= text->size();
        m_sending.clear();
        if (!m_queue.empty()) return;
        if (auto done = std::exchange(m_afterWrites, nullptr)) {
            ErrorCode ignored;
            m_socket.shutdown(tcp::socket::shutdown_send, ignored);
            net::post(m_socket.get_executor(), [done] { done({}); });
        }
    }

    const ServerLimits& m_limits;
    ClientSlot m_connection;
    ClientSlot m_stream;
    tcp::socket m_socket;
    std::vector<Message> m_queue;
    std::vector<Message> m_sending;
    std::vector<net::const_buffer> m_buffers;
    size_t m_queuedBytes = 0; // queued and being sent
    bool m_writing = false;
    bool m_closed = false;
    Clock::time_point m_writeStarted;
    std::function<void(ErrorCode)> m_afterWrites;
    Interest m_interest;
};

// The latest reading and port state of every scale, and everyone listening. An event is queued
// to every client that follows its scale and written as soon as the server's thread has handled
// what was queued with it: a reading leaves at once, readings that came in together leave in one
// write. Events are batched only where the writing is behind:
// - a client whose write is still in flight (the socket took less than it was given) gets what
//   piled up meanwhile in its next write;
// - while writing to every client would take more than a tenth of the server's thread (about
//   100 clients at 1000 readings a second on a PC), the next write waits until ten times the
//   last one's duration has passed since it began, at most 10 ms, and takes all that came
//   meanwhile: a system call per client and reading would cost more than the reading. With a
//   few clients, or at 100 readings a second, nothing waits.
class Hub {
  public:
    // scales: the names, in the server's order; defaultScale: the one of the single-scale paths.
    Hub(net::io_context& io, std::vector<std::string> scales, size_t defaultScale);

    void add(const std::shared_ptr<Subscriber>& subscriber);
    void reading(size_t scale, const Reading& reading);
    void port(size_t scale, const PortStatus& port);
    // Keeps SSE connections through proxies and finds dead clients; drops stuck writers.
    void heartbeat();
    void dropAll();

    size_t defaultScale() const { return m_default; }
    std::string weightAnswer(size_t scale) const;
    // /api/scales: every scale's name, device, port and latest reading.
    std::string scalesAnswer() const;
    const PortStatus& portStatus(size_t scale) const { return m_scales[scale].port; }

  private:
    struct ScaleState {
        std::string name;
        std::optional<Reading> latest;
        uint64_t seq = 0;
        PortStatus port;
        Event portEvent;    // naming the scale
        Event readingEvent; // naming the scale; null before the first reading
        Event plainPort;    // the default scale's, as a single-scale server has them
        Event plainReading;
    };
    void publish(size_t scale, const Event& named, const Event& plain);
    void flushSoon();
    void flush();
    template <class F> void forEach(F f);

    net::io_context& m_io;
    net::steady_timer m_flushTimer;
    Clock::duration m_flushCost{}; // of one write to every client, averaged over the last few
    Clock::time_point m_nextFlush; // the earliest the next write keeps within the share
    bool m_flushTimed = false;
    std::vector<std::weak_ptr<Subscriber>> m_subscribers;
    std::vector<ScaleState> m_scales;
    size_t m_default;
    bool m_flushPosted = false;
};

} // namespace tolvak::cli::web
