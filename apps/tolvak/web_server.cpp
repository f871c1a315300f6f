// The only file that includes Boost.Beast: it compiles slowly, so it stays in one place.
#include "tolvak/web_server.h"

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
    Message sse;  // a Server-Sent Event (or comment)
    Message json; // a WebSocket text message; null when WebSocket clients get nothing
};

struct Counter {
    size_t value = 0;
};

// Holds a place among --max-clients for as long as a connection lives.
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

// A client that receives the stream of events, through its own bounded queue. A client whose
// queue passes the bound, or whose write does not finish in time, is dropped: it must never
// hold up the others or the reader.
class Subscriber : public std::enable_shared_from_this<Subscriber> {
  public:
    Subscriber(const ServerLimits& limits, std::shared_ptr<Counter> clients)
        : m_limits(limits), m_slot(std::move(clients)) {}
    virtual ~Subscriber() = default;

    void deliver(const Event& event) {
        if (m_closed) return;
        const Message& text = pick(event);
        if (!text) return;
        if (m_queuedBytes + text->size() > m_limits.clientBuffer) {
            drop();
            return;
        }
        m_queue.push_back(text);
        m_queuedBytes += text->size();
        if (!m_writing) writeNext();
    }

    void checkWriteDeadline(Clock::time_point now) {
        if (m_writing && now - m_writeStarted > m_limits.writeTimeout) drop();
    }

    bool closed() const { return m_closed; }

    void drop() {
        if (m_closed) return;
        m_closed = true;
        m_queue.clear();
        m_queuedBytes = 0;
        closeTransport();
    }

  protected:
    virtual const Message& pick(const Event& event) const = 0;
    virtual void asyncWrite(const Message& text, std::function<void(ErrorCode)> done) = 0;
    virtual void closeTransport() = 0;

  private:
    void writeNext() {
        if (m_closed || m_queue.empty()) {
            m_writing = false;
            return;
        }
        m_writing = true;
        m_writeStarted = Clock::now();
        Message text = m_queue.front();
        asyncWrite(text, [self = shared_from_this(), text](ErrorCode ec) {
            if (ec) {
                self->drop();
                return;
            }
            if (self->m_closed) return;
            self->m_queue.pop_front();
            self->m_queuedBytes -= text->size();
            self->writeNext();
        });
    }

    const ServerLimits& m_limits;
    ClientSlot m_slot;
    std::deque<Message> m_queue;
    size_t m_queuedBytes = 0;
    bool m_writing = false;
    bool m_closed = false;
    Clock::time_point m_writeStarted;
};

// The latest reading and port state, and everyone listening.
class Hub {
  public:
    void add(const std::shared_ptr<Subscriber>& subscriber) {
        m_subscribers.push_back(subscriber);
        // A new client learns at once where things stand.
        subscriber->deliver(m_portEvent);
        if (m_readingEvent.sse) subscriber->deliver(m_readingEvent);
    }

    void reading(const Reading& reading) {
        m_latest = reading;
        ++m_seq;
        const std::string json = readingMessage(reading, m_seq);
        m_readingEvent = {message(sseEvent("reading", m_seq, json)), message(json)};
        publish(m_readingEvent);
    }

    void port(const PortStatus& port) {
        m_port = port;
        const std::string json = portMessage(port);
        m_portEvent = {message(sseEvent("port", std::nullopt, json)), message(json)};
        publish(m_portEvent);
    }

    // Keeps SSE connections through proxies and finds dead clients; drops stuck writers.
    void heartbeat() {
        static const Event comment{message(":\n\n"), nullptr};
        const auto now = Clock::now();
        forEach([&](Subscriber& s) {
            s.checkWriteDeadline(now);
            s.deliver(comment);
        });
    }

    void dropAll() {
        forEach([](Subscriber& s) { s.drop(); });
    }

    std::string weightAnswer() const {
        return cli::weightAnswer(m_latest ? &*m_latest : nullptr, m_seq, m_port,
                                 std::chrono::system_clock::now());
    }
    const PortStatus& portStatus() const { return m_port; }

  private:
    void publish(const Event& event) {
        forEach([&](Subscriber& s) { s.deliver(event); });
    }

    template <class F> void forEach(F f) {
        std::vector<std::shared_ptr<Subscriber>> live;
        live.reserve(m_subscribers.size());
        for (auto& weak : m_subscribers)
            if (auto s = weak.lock(); s && !s->closed()) live.push_back(std::move(s));
        m_subscribers.assign(live.begin(), live.end());
        for (auto& s : live)
            f(*s);
    }

    std::vector<std::weak_ptr<Subscriber>> m_subscribers;
    std::optional<Reading> m_latest;
    uint64_t m_seq = 0;
    PortStatus m_port;
    Event m_portEvent{message(sseEvent("port", std::nullopt, portMessage({}))),
                      message(portMessage({}))};
    Event m_readingEvent;
};

struct ServerState {
    ServerState(AccessPolicy p, ServerLimits l) : policy(std::move(p)), limits(l) {}
    AccessPolicy policy;
    ServerLimits limits;
    std::shared_ptr<Counter> clients = std::make_shared<Counter>();
    Hub hub;
    std::vector<std::string> commands;
    std::function<void(const std::string&, WebServer::Reply)> commandHandler;
};

// --- Server-Sent Events ----------------------------------------------------------------------

class SseClient : public Subscriber {
  public:
    SseClient(ServerState& server, tcp::socket socket)
        : Subscriber(server.limits, server.clients), m_server(server), m_socket(std::move(socket)) {
    }

    void start(const std::string& responseHead) {
        deliver({message(responseHead), nullptr});
        m_server.hub.add(std::static_pointer_cast<Subscriber>(shared_from_this()));
        watchForClose();
    }

  protected:
    const Message& pick(const Event& event) const override { return event.sse; }
    void asyncWrite(const Message& text, std::function<void(ErrorCode)> done) override {
        net::async_write(m_socket, net::buffer(*text),
                         [done = std::move(done)](ErrorCode ec, size_t) { done(ec); });
    }
    void closeTransport() override {
        ErrorCode ignored;
        m_socket.shutdown(tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
    }

  private:
    // The client has nothing to say; a read ends when it goes away.
    void watchForClose() {
        m_socket.async_read_some(
            net::buffer(m_scratch),
            [self = std::static_pointer_cast<SseClient>(shared_from_this())](ErrorCode ec, size_t) {
                if (ec) {
                    self->drop();
                    return;
                }
                self->watchForClose();
            });
    }

    ServerState& m_server;
    tcp::socket m_socket;
    char m_scratch[512];
};

// --- WebSocket -------------------------------------------------------------------------------

class WebSocketClient : public Subscriber {
  public:
    WebSocketClient(ServerState& server, beast::tcp_stream stream)
        : Subscriber(server.limits, server.clients), m_server(server), m_ws(std::move(stream)) {}

    void start(http::request<http::string_body> request) {
        beast::get_lowest_layer(m_ws).expires_never(); // the WebSocket's own timeouts rule now
        m_ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        m_ws.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& res) { res.set(http::field::server, "tolvak"); }));
        m_ws.read_message_max(4096);
        m_ws.text(true);
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
    const Message& pick(const Event& event) const override { return event.json; }
    void asyncWrite(const Message& text, std::function<void(ErrorCode)> done) override {
        m_ws.async_write(net::buffer(*text),
                         [done = std::move(done)](ErrorCode ec, size_t) { done(ec); });
    }
    void closeTransport() override { beast::get_lowest_layer(m_ws).close(); }

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

    ServerState& m_server;
    websocket::stream<beast::tcp_stream> m_ws;
    beast::flat_buffer m_in;
};

// --- plain HTTP ------------------------------------------------------------------------------

class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(ServerState& server, tcp::socket socket)
        : m_server(server), m_slot(server.clients), m_stream(std::move(socket)),
          m_buffer(server.limits.maxHeaderBytes + 4096) {}

    void start() { readRequest(); }

  private:
    using Response = http::response<http::string_body>;

    void readRequest() {
        m_parser.emplace();
        m_parser->header_limit(static_cast<uint32_t>(m_server.limits.maxHeaderBytes));
        m_parser->body_limit(4096);
        m_stream.expires_after(m_server.limits.requestTimeout);
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](ErrorCode ec, size_t) { self->onRead(ec); });
    }

    void onRead(ErrorCode ec) {
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
        const AccessPolicy& policy = m_server.policy;
        if (static_cast<size_t>(std::distance(req.begin(), req.end())) >
            m_server.limits.maxHeaderFields) {
            fail(http::status::request_header_fields_too_large, "too many header fields");
            return;
        }
        const std::string host(req[http::field::host]);
        if (!hostAllowed(host, policy)) {
            fail(http::status::forbidden, "host not allowed");
            return;
        }
        std::optional<std::string> origin;
        if (req.find(http::field::origin) != req.end())
            origin = std::string(req[http::field::origin]);
        if (!originAllowed(origin, host, policy)) {
            fail(http::status::forbidden, "origin not allowed");
            return;
        }
        m_cors.clear();
        if (origin) m_cors = *origin;

        std::string target(req.target());
        if (size_t query = target.find('?'); query != std::string::npos) target.resize(query);

        const bool commands = !m_server.commands.empty();
        if (req.method() == http::verb::options) {
            Response res = response(req, http::status::no_content, "", "");
            res.set(http::field::access_control_allow_methods, commands ? "GET, POST" : "GET");
            res.set(http::field::access_control_max_age, "600");
            send(std::move(res));
            return;
        }
        if (req.method() == http::verb::post && commands) {
            for (const std::string& name : m_server.commands)
                if (target == "/api/" + name) return command(req, name);
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
            send(response(req, http::status::ok, "application/json",
                          healthAnswer(m_server.hub.portStatus()) + "\n"));
        } else if (target == "/api/events") {
            startEvents(req);
        } else if (target == "/ws") {
            if (!websocket::is_upgrade(req)) {
                send(response(req, http::status::upgrade_required, "text/plain",
                              "a WebSocket upgrade is expected here\n"));
                return;
            }
            m_buffer.consume(m_buffer.size());
            std::make_shared<WebSocketClient>(m_server, std::move(m_stream))->start(std::move(req));
        } else {
            send(response(req, http::status::not_found, "text/plain", "not found\n"));
        }
    }

    // The indicator's reply or, after commandTimeout, 504; whichever comes first answers.
    void command(const http::request<http::string_body>& req, const std::string& name) {
        struct Pending {
            explicit Pending(net::any_io_executor e) : timer(e) {}
            net::steady_timer timer;
            bool answered = false;
        };
        auto pending = std::make_shared<Pending>(m_stream.get_executor());
        auto answer = [self = shared_from_this(), pending, req](int status, std::string body) {
            if (pending->answered) return;
            pending->answered = true;
            pending->timer.cancel();
            self->send(self->response(req, static_cast<http::status>(status), "application/json",
                                      body + "\n"));
        };
        pending->timer.expires_after(m_server.limits.commandTimeout);
        pending->timer.async_wait([answer](ErrorCode ec) {
            if (!ec) answer(504, R"({"error":"no reply from the indicator in time"})");
        });
        m_server.commandHandler(
            name, [executor = m_stream.get_executor(), answer](int status, std::string body) {
                net::post(executor, [answer, status, body] { answer(status, body); });
            });
    }

    void startEvents(const http::request<http::string_body>& req) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                           "Cache-Control: no-store\r\nConnection: close\r\nServer: tolvak\r\n";
        if (!m_cors.empty())
            head += "Access-Control-Allow-Origin: " + m_cors + "\r\nVary: Origin\r\n";
        head += "\r\n";
        (void)req;
        m_stream.expires_never();
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

    void close() {
        ErrorCode ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.close();
    }

    ServerState& m_server;
    ClientSlot m_slot;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::string m_cors;
};

} // namespace

// --- the server ------------------------------------------------------------------------------

struct WebServer::Impl : std::enable_shared_from_this<WebServer::Impl> {
    Impl(AccessPolicy policy, ServerLimits limits)
        : state(std::move(policy), limits), acceptor(io), signals(io, SIGINT, SIGTERM),
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

    void admit(tcp::socket socket) {
        ErrorCode ignored;
        if (state.clients->value >= state.limits.maxClients) {
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
        std::make_shared<HttpSession>(state, std::move(socket))->start();
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
    m_impl->state.hub.dropAll();
}

uint16_t WebServer::port() const {
    return m_impl->acceptor.local_endpoint().port();
}

void WebServer::setCommands(std::vector<std::string> names,
                            std::function<void(const std::string&, Reply)> handler) {
    m_impl->state.commands = std::move(names);
    m_impl->state.commandHandler = std::move(handler);
}

void WebServer::postReading(const Reading& reading) {
    net::post(m_impl->io, [impl = m_impl, reading] { impl->state.hub.reading(reading); });
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
