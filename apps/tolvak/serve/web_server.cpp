// The only file that includes Boost.Beast: it compiles slowly, so it stays in one place.
#include "tolvak/web_server.h"

#include <algorithm>

#include <deque>
#include <functional>
#include <optional>
#include <system_error>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "tolvak/command_desk.h"
#include "tolvak/text_format.h"

namespace tolvak::cli {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using ErrorCode = boost::system::error_code;
using Clock = std::chrono::steady_clock;

using Message = std::shared_ptr<const std::string>;

Message message(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

// One thing to tell every streaming client, made once in each client kind's form.
struct Event {
    Message sse; // a Server-Sent Event (or comment)
    Message ws;  // a whole WebSocket frame; null when WebSocket clients get nothing
};

Event event(const std::string& type, std::optional<uint64_t> id, const std::string& json) {
    return {message(sseEvent(type, id, json)), message(webSocketTextFrame(json))};
}

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

class Subscriber;

// The latest reading and port state, and everyone listening. Events are queued to every client
// at once; at a high reading rate one write carries several of them instead of costing a system
// call each (see flushSoon).
class Hub {
  public:
    Hub(net::io_context& io, Clock::duration writeInterval)
        : m_flushTimer(io), m_writeInterval(writeInterval) {}

    void add(const std::shared_ptr<Subscriber>& subscriber);
    void reading(const Reading& reading);
    void port(const PortStatus& port);
    // Keeps SSE connections through proxies and finds dead clients; drops stuck writers.
    void heartbeat();
    void dropAll();

    std::string weightAnswer() const {
        return cli::weightAnswer(m_latest ? &*m_latest : nullptr, m_seq, m_port,
                                 std::chrono::system_clock::now());
    }
    const PortStatus& portStatus() const { return m_port; }

  private:
    void publish(const Event& event);
    void flushSoon();
    void flush();
    template <class F> void forEach(F f);

    std::vector<std::weak_ptr<Subscriber>> m_subscribers;
    std::optional<Reading> m_latest;
    uint64_t m_seq = 0;
    PortStatus m_port;
    Event m_portEvent = event("port", std::nullopt, portMessage({}));
    Event m_readingEvent;
    net::steady_timer m_flushTimer;
    Clock::duration m_writeInterval;
    Clock::time_point m_lastFlush;
    Clock::time_point m_lastEvent;
    bool m_flushPending = false;
};

class HttpSession;

struct ServerState {
    ServerState(net::io_context& io, AccessPolicy p, ServerLimits l)
        : policy(std::move(p)), limits(l), hub(io, l.writeInterval),
          desk({l.commandQueue, l.commandInterval, l.commandTimeout}), deskTimer(io) {}
    AccessPolicy policy;
    ServerLimits limits;
    std::shared_ptr<Counter> connections = std::make_shared<Counter>();
    std::shared_ptr<Counter> streams = std::make_shared<Counter>();
    Hub hub;
    // Plain HTTP connections, for the one to let go when every place is taken.
    std::vector<std::weak_ptr<HttpSession>> sessions;
    std::vector<std::string> commands;
    WebServer::Write writeCommand;
    std::function<std::string()> token;
    CommandDesk desk;
    net::steady_timer deskTimer;

    void reading(const Reading& r) {
        hub.reading(r);
        desk.reading(r);
        pumpCommands();
    }

    // Writes what is due, answers what is late, and wakes again when the desk next has work.
    void pumpCommands() {
        const auto now = Clock::now();
        desk.expire(now);
        if (auto due = desk.due(now)) {
            writeCommand(due->name, [this, executor = deskTimer.get_executor(),
                                     id = due->id](std::optional<std::string> error) {
                net::post(executor, [this, id, error] {
                    desk.sent(id, error);
                    pumpCommands();
                });
            });
        }
        const auto wake = desk.wakeAt();
        if (!wake) return;
        deskTimer.expires_at(std::max(*wake, now));
        deskTimer.async_wait([this](ErrorCode ec) {
            if (!ec) pumpCommands();
        });
    }
};

// A client that receives the stream of events, through its own bounded queue. Whatever is
// queued when a write starts leaves in that one write. A client whose queue passes the bound, or
// whose write does not finish in time, is dropped: it must never hold up the others or the
// reader.
class Subscriber : public std::enable_shared_from_this<Subscriber> {
  public:
    Subscriber(ServerState& server, tcp::socket socket)
        : m_server(server), m_connection(server.connections), m_stream(server.streams),
          m_socket(std::move(socket)) {
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
        if (m_writing && now - m_writeStarted > m_server.limits.writeTimeout) drop();
    }

    bool closed() const { return m_closed; }

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

    ServerState& m_server;

  private:
    void enqueue(const Message& text) {
        if (m_closed) return;
        if (m_queuedBytes + text->size() > m_server.limits.clientBuffer) {
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
};

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

// --- Server-Sent Events ----------------------------------------------------------------------

class SseClient : public Subscriber {
  public:
    using Subscriber::Subscriber;

    void start(const std::string& responseHead) {
        deliver({message(responseHead), nullptr});
        m_server.hub.add(shared_from_this());
        watchForClose();
    }

  protected:
    const Message& pick(const Event& event) const override { return event.sse; }

  private:
    // The client has nothing to say; a read ends when it goes away.
    void watchForClose() {
        socket().async_read_some(
            net::buffer(m_scratch),
            [self = std::static_pointer_cast<SseClient>(shared_from_this())](ErrorCode ec, size_t) {
                if (ec) {
                    self->drop();
                    return;
                }
                self->watchForClose();
            });
    }

    char m_scratch[512];
};

// --- WebSocket -------------------------------------------------------------------------------

// The layer under Beast's WebSocket stream. Reads first hand over what was read together with
// the upgrade request, then come from the socket. Beast's own frames (the handshake answer,
// pongs, close) go through the client's queue, so that they never split one of the event frames
// the client writes there itself.
class WebSocketLayer {
  public:
    using executor_type = tcp::socket::executor_type;

    explicit WebSocketLayer(Subscriber& owner) : m_owner(owner) {}

    executor_type get_executor() { return m_owner.socket().get_executor(); }
    Subscriber& owner() { return m_owner; }
    beast::flat_buffer& alreadyRead() { return m_alreadyRead; }

    template <class Buffers, class Handler>
    void async_read_some(const Buffers& buffers, Handler&& handler) {
        if (m_alreadyRead.size() == 0) {
            m_owner.socket().async_read_some(buffers, std::forward<Handler>(handler));
            return;
        }
        const size_t n = net::buffer_copy(buffers, m_alreadyRead.data());
        m_alreadyRead.consume(n);
        net::post(get_executor(),
                  beast::bind_front_handler(std::forward<Handler>(handler), ErrorCode{}, n));
    }

    template <class Buffers, class Handler>
    void async_write_some(const Buffers& buffers, Handler&& handler) {
        std::string bytes(net::buffer_size(buffers), '\0');
        net::buffer_copy(net::buffer(bytes), buffers);
        const size_t n = bytes.size();
        m_owner.send(message(std::move(bytes)));
        net::post(get_executor(),
                  beast::bind_front_handler(std::forward<Handler>(handler), ErrorCode{}, n));
    }

  private:
    Subscriber& m_owner;
    beast::flat_buffer m_alreadyRead;
};

// Beast's closing handshake and its timeouts, on this layer (found by argument lookup).
template <class Handler>
void async_teardown(beast::role_type, WebSocketLayer& layer, Handler&& handler) {
    auto owned = std::make_shared<std::decay_t<Handler>>(std::forward<Handler>(handler));
    layer.owner().shutdownAfterWrites([owned](ErrorCode ec) { (*owned)(ec); });
}

void beast_close_socket(WebSocketLayer& layer) {
    layer.owner().drop();
}

class WebSocketClient : public Subscriber {
  public:
    WebSocketClient(ServerState& server, tcp::socket socket)
        : Subscriber(server, std::move(socket)), m_ws(static_cast<Subscriber&>(*this)) {}

    // alreadyRead: what came after the request's head in the same read.
    void start(http::request<http::string_body> request, const beast::flat_buffer& alreadyRead) {
        beast::flat_buffer& pending = m_ws.next_layer().alreadyRead();
        pending.commit(net::buffer_copy(pending.prepare(alreadyRead.size()), alreadyRead.data()));
        m_ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        m_ws.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& res) { res.set(http::field::server, "tolvak"); }));
        m_ws.read_message_max(4096);
        m_ws.async_accept(request, [self = self()](ErrorCode ec) {
            if (ec) {
                self->drop();
                return;
            }
            self->m_server.hub.add(self);
            self->readLoop();
        });
    }

  protected:
    const Message& pick(const Event& event) const override {
        static const Message none;
        // Nothing after a close frame.
        return m_ws.is_open() ? event.ws : none;
    }

  private:
    std::shared_ptr<WebSocketClient> self() {
        return std::static_pointer_cast<WebSocketClient>(shared_from_this());
    }

    // Messages from the client mean nothing; reading keeps pings, pongs and close working.
    void readLoop() {
        m_ws.async_read(m_in, [self = self()](ErrorCode ec, size_t) {
            if (ec) {
                self->drop();
                return;
            }
            self->m_in.consume(self->m_in.size());
            self->readLoop();
        });
    }

    websocket::stream<WebSocketLayer> m_ws;
    beast::flat_buffer m_in;
};

// --- plain HTTP ------------------------------------------------------------------------------

class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(ServerState& server, tcp::socket socket)
        : m_server(server), m_slot(server.connections), m_stream(std::move(socket)),
          m_buffer(server.limits.maxHeaderBytes + 4096) {}

    void start() { readRequest(); }

    using Response = http::response<http::string_body>;

    // Waiting for a request: since when, or none while one is handled.
    std::optional<Clock::time_point> waitingSince() const { return m_waitingSince; }

    void close() {
        ErrorCode ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.close();
    }

  private:
    void readRequest() {
        m_parser.emplace();
        m_parser->header_limit(static_cast<uint32_t>(m_server.limits.maxHeaderBytes));
        m_parser->body_limit(4096);
        // Near the limit, idle and slow connections get less time, so that the places they hold
        // come free for short requests.
        const ServerLimits& limits = m_server.limits;
        const size_t places = limits.maxClients + limits.shortReserve;
        const size_t used = m_server.connections->value;
        const bool crowded = used + limits.shortReserve / 2 >= places;
        m_stream.expires_after(
            crowded ? std::min<Clock::duration>(limits.requestTimeout, std::chrono::seconds(2))
                    : Clock::duration(limits.requestTimeout));
        m_waitingSince = Clock::now();
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](ErrorCode ec, size_t) { self->onRead(ec); });
    }

    void onRead(ErrorCode ec) {
        m_waitingSince.reset();
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            ec == net::error::operation_aborted || ec == net::error::connection_reset ||
            ec == net::error::eof) {
            close();
            return;
        }
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            fail(http::status::request_header_fields_too_large, "request header too large");
            return;
        }
        if (ec == http::error::body_limit) {
            fail(http::status::payload_too_large, "request body too large");
            return;
        }
        if (ec) {
            fail(http::status::bad_request, "bad request");
            return;
        }
        handle(m_parser->release());
    }

    void handle(http::request<http::string_body> req) {
        if (static_cast<size_t>(std::distance(req.begin(), req.end())) >
            m_server.limits.maxHeaderFields) {
            fail(http::status::request_header_fields_too_large, "too many header fields");
            return;
        }
        std::vector<std::string_view> hosts;
        std::vector<std::string_view> origins;
        std::vector<std::string_view> authorizations;
        for (const auto& field : req) {
            const std::string_view value(field.value().data(), field.value().size());
            if (field.name() == http::field::host) hosts.push_back(value);
            if (field.name() == http::field::origin) origins.push_back(value);
            if (field.name() == http::field::authorization) authorizations.push_back(value);
        }
        const AccessVerdict verdict = checkAccess(hosts, origins, m_server.policy);
        if (verdict.access != Access::allowed) {
            fail(verdict.access == Access::badRequest ? http::status::bad_request
                                                      : http::status::forbidden,
                 verdict.why);
            return;
        }
        std::optional<std::string> origin;
        if (!origins.empty()) origin = std::string(origins.front());
        m_cors.clear();
        if (origin) m_cors = *origin;

        std::string target(req.target());
        if (size_t query = target.find('?'); query != std::string::npos) target.resize(query);

        // Commands only from programs, the server's own page and the origins allowed them.
        const bool commands = !m_server.commands.empty() &&
                              commandOriginAllowed(origin, hosts.front(), m_server.policy);
        if (req.method() == http::verb::options) {
            Response res = response(req, http::status::no_content, "", "");
            res.set(http::field::access_control_allow_methods, commands ? "GET, POST" : "GET");
            res.set(http::field::access_control_allow_headers, "Authorization, Content-Type");
            res.set(http::field::access_control_max_age, "600");
            send(std::move(res));
            return;
        }
        if (req.method() == http::verb::post && !m_server.commands.empty()) {
            for (const std::string& name : m_server.commands) {
                if (target != "/api/" + name) continue;
                if (!commands) {
                    fail(http::status::forbidden,
                         "origin not allowed to send commands (see --allow-commands-from)");
                    return;
                }
                return command(req, name, authorizations);
            }
        }
        if (req.method() != http::verb::get) {
            Response res =
                response(req, http::status::method_not_allowed, "text/plain", "only GET\n");
            res.set(http::field::allow, "GET, OPTIONS");
            send(std::move(res));
            return;
        }
        if (target == "/" || target == "/index.html") {
            send(response(req, http::status::ok, "text/html; charset=utf-8", kWebPage));
        } else if (target == "/api/weight") {
            send(response(req, http::status::ok, "application/json",
                          m_server.hub.weightAnswer() + "\n"));
        } else if (target == "/healthz") {
            const PortStatus& port = m_server.hub.portStatus();
            send(response(req, static_cast<http::status>(healthStatus(port)), "application/json",
                          healthAnswer(port) + "\n"));
        } else if (target == "/api/events" || target == "/ws") {
            if (target == "/ws" && !websocket::is_upgrade(req)) {
                send(response(req, http::status::upgrade_required, "text/plain",
                              "a WebSocket upgrade is expected here\n"));
                return;
            }
            // Streams stay; the places left over are for short requests such as /healthz.
            if (m_server.streams->value >= m_server.limits.maxClients) {
                fail(http::status::service_unavailable, "too many clients");
                return;
            }
            m_stream.expires_never();
            if (target == "/ws")
                std::make_shared<WebSocketClient>(m_server, m_stream.release_socket())
                    ->start(std::move(req), m_buffer);
            else
                startEvents();
        } else {
            send(response(req, http::status::not_found, "text/plain", "not found\n"));
        }
    }

    // Queued at the desk, which answers: the frame that shows the command's effect, 504 when none
    // came in time, 429 when too many wait. The desk answers every command within its queue's
    // and its timeout's time, so the sessions it holds are few and let go soon, on this thread.
    void command(const http::request<http::string_body>& req, const std::string& name,
                 const std::vector<std::string_view>& authorizations) {
        std::string token;
        try {
            token = m_server.token ? m_server.token() : std::string();
        } catch (const std::exception& e) {
            send(response(req, http::status::service_unavailable, "application/json",
                          jsonError(std::string("the token cannot be read: ") + e.what())));
            return;
        }
        if (!token.empty() && !bearerMatches(authorizations, token)) {
            Response res = response(req, http::status::unauthorized, "application/json",
                                    jsonError("commands need the token: Authorization: Bearer "
                                              "TOKEN (see --token-file)"));
            res.set(http::field::www_authenticate, "Bearer");
            send(std::move(res));
            return;
        }
        Response head = response(req, http::status::ok, "application/json", "");
        auto answer = [self = shared_from_this(), head](int status, std::string body) {
            Response res = head;
            res.result(static_cast<http::status>(status));
            res.body() = body + "\n";
            res.prepare_payload();
            self->send(std::move(res));
        };
        if (!m_server.desk.submit(name, answer)) {
            Response res = response(req, http::status::too_many_requests, "application/json",
                                    jsonError("too many commands are waiting; try again shortly"));
            res.set(http::field::retry_after, "1");
            send(std::move(res));
            return;
        }
        m_server.pumpCommands();
    }

    static std::string jsonError(const std::string& text) {
        return jsonText({{"error", text}}) + "\n";
    }

    void startEvents() {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                           "Cache-Control: no-store\r\nConnection: close\r\nServer: tolvak\r\n";
        if (!m_cors.empty())
            head += "Access-Control-Allow-Origin: " + m_cors + "\r\nVary: Origin\r\n";
        head += "\r\n";
        auto client = std::make_shared<SseClient>(m_server, m_stream.release_socket());
        client->start(head);
    }

    Response response(const http::request<http::string_body>& req, http::status status,
                      const std::string& type, std::string body) {
        Response res{status, req.version()};
        res.set(http::field::server, "tolvak");
        if (!type.empty()) res.set(http::field::content_type, type);
        res.set(http::field::cache_control, "no-store");
        if (!m_cors.empty()) {
            res.set(http::field::access_control_allow_origin, m_cors);
            res.set(http::field::vary, "Origin");
        }
        res.keep_alive(req.keep_alive());
        res.body() = std::move(body);
        res.prepare_payload();
        return res;
    }

    // Refuses the request and closes the connection after the answer.
    void fail(http::status status, const std::string& why) {
        Response res{status, 11};
        res.set(http::field::server, "tolvak");
        res.set(http::field::content_type, "text/plain");
        res.keep_alive(false);
        res.body() = why + "\n";
        res.prepare_payload();
        send(std::move(res));
    }

    void send(Response res) {
        auto owned = std::make_shared<Response>(std::move(res));
        m_stream.expires_after(m_server.limits.writeTimeout);
        http::async_write(m_stream, *owned,
                          [self = shared_from_this(), owned](ErrorCode ec, size_t) {
                              if (ec || owned->need_eof()) {
                                  self->close();
                                  return;
                              }
                              self->readRequest();
                          });
    }

    ServerState& m_server;
    ClientSlot m_slot;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::string m_cors;
    std::optional<Clock::time_point> m_waitingSince;
};

} // namespace

// --- the server ------------------------------------------------------------------------------

struct WebServer::Impl : std::enable_shared_from_this<WebServer::Impl> {
    Impl(AccessPolicy policy, ServerLimits limits)
        : state(io, std::move(policy), limits), acceptor(io), signals(io, SIGINT, SIGTERM),
          heartbeatTimer(io), retryTimer(io) {
        const tcp::endpoint endpoint(net::ip::make_address(state.policy.listen.address),
                                     state.policy.listen.port);
        acceptor.open(endpoint.protocol());
        acceptor.set_option(net::socket_base::reuse_address(true));
        acceptor.bind(endpoint);
        acceptor.listen(net::socket_base::max_listen_connections);
    }

    void start() {
        accept();
        signals.async_wait([this](ErrorCode ec, int) {
            if (!ec) io.stop();
        });
        heartbeat();
    }

    void accept() {
        acceptor.async_accept([this](ErrorCode ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted) return;
            if (ec) {
                // Out of descriptors or the like: try again shortly rather than spin.
                retryTimer.expires_after(std::chrono::milliseconds(100));
                retryTimer.async_wait([this](ErrorCode e) {
                    if (!e) accept();
                });
                return;
            }
            admit(std::move(socket));
            accept();
        });
    }

    // Lets go of the connection that has waited longest for a request (idle between requests,
    // or sending one slowly): whoever connects now has something to ask. Streams stay.
    bool evictIdle() {
        auto& sessions = state.sessions;
        sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                      [](const auto& weak) { return weak.expired(); }),
                       sessions.end());
        std::shared_ptr<HttpSession> oldest;
        for (const auto& weak : sessions) {
            auto session = weak.lock();
            if (session && session->waitingSince() &&
                (!oldest || *session->waitingSince() < *oldest->waitingSince()))
                oldest = std::move(session);
        }
        if (!oldest) return false;
        oldest->close();
        return true;
    }

    void admit(tcp::socket socket) {
        ErrorCode ignored;
        if (state.connections->value >= state.limits.maxClients + state.limits.shortReserve &&
            !evictIdle()) {
            // Full: a short answer if the socket takes it at once, and the door closed.
            static const char kBusy[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: "
                                        "16\r\nConnection: close\r\n\r\ntoo many clients";
            socket.non_blocking(true, ignored);
            socket.write_some(net::buffer(kBusy, sizeof kBusy - 1), ignored);
            socket.shutdown(tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
            return;
        }
        socket.set_option(tcp::no_delay(true), ignored);
        // A small send buffer makes a client that does not read show up in its queue soon.
        socket.set_option(net::socket_base::send_buffer_size(64 * 1024), ignored);
        auto session = std::make_shared<HttpSession>(state, std::move(socket));
        state.sessions.push_back(session);
        session->start();
    }

    void heartbeat() {
        heartbeatTimer.expires_after(state.limits.heartbeat);
        heartbeatTimer.async_wait([this](ErrorCode ec) {
            if (ec) return;
            state.hub.heartbeat();
            heartbeat();
        });
    }

    // Declared first so that it outlives every connection's handlers.
    net::io_context io{1};
    ServerState state;
    tcp::acceptor acceptor;
    net::signal_set signals;
    net::steady_timer heartbeatTimer;
    net::steady_timer retryTimer;
};

WebServer::WebServer(AccessPolicy policy, ServerLimits limits)
    : m_impl(std::make_shared<Impl>(std::move(policy), limits)) {}

WebServer::~WebServer() {
    ErrorCode ignored;
    m_impl->acceptor.close(ignored);
    m_impl->state.desk.cancelAll();
    m_impl->state.hub.dropAll();
}

uint16_t WebServer::port() const {
    return m_impl->acceptor.local_endpoint().port();
}

void WebServer::setCommands(std::vector<std::string> names, Write write,
                            std::function<std::string()> token) {
    m_impl->state.commands = std::move(names);
    m_impl->state.writeCommand = std::move(write);
    m_impl->state.token = std::move(token);
}

void WebServer::postReading(const Reading& reading) {
    net::post(m_impl->io, [impl = m_impl, reading] { impl->state.reading(reading); });
}

void WebServer::postPort(const PortStatus& port) {
    net::post(m_impl->io, [impl = m_impl, port] { impl->state.hub.port(port); });
}

void WebServer::run() {
    m_impl->start();
    m_impl->io.run();
}

void WebServer::stop() {
    m_impl->io.stop();
}

} // namespace tolvak::cli
