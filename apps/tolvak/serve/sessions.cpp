// The connections themselves: plain HTTP, Server-Sent Events and WebSocket. The only file that
// includes Beast's HTTP and WebSocket headers: they compile slowly, so they stay in one place.
#include "tolvak/serve/sessions.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "tolvak/output/text_format.h"
#include "tolvak/serve/routes.h"

namespace tolvak::cli::web {

namespace {

namespace http = beast::http;
namespace websocket = beast::websocket;

// --- Server-Sent Events ----------------------------------------------------------------------

class SseClient : public Subscriber {
  public:
    SseClient(SharedState& server, tcp::socket socket)
        : Subscriber(server.limits, server.places(), std::move(socket)), m_server(server) {}

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

    SharedState& m_server;
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
    WebSocketClient(SharedState& server, tcp::socket socket)
        : Subscriber(server.limits, server.places(), std::move(socket)), m_server(server),
          m_ws(static_cast<Subscriber&>(*this)) {}

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

    SharedState& m_server;
    websocket::stream<WebSocketLayer> m_ws;
    beast::flat_buffer m_in;
};

// --- plain HTTP ------------------------------------------------------------------------------

} // namespace

class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(SharedState& server, tcp::socket socket)
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
        Request request;
        request.method = std::string(req.method_string());
        request.target = std::string(req.target());
        if (size_t query = request.target.find('?'); query != std::string::npos) {
            request.query = request.target.substr(query + 1);
            request.target.resize(query);
        }
        for (const auto& field : req) {
            const std::string_view value(field.value().data(), field.value().size());
            if (field.name() == http::field::host) request.hosts.push_back(value);
            if (field.name() == http::field::origin) request.origins.push_back(value);
            if (field.name() == http::field::authorization) request.authorizations.push_back(value);
        }
        request.webSocketUpgrade = websocket::is_upgrade(req);
        Hub& hub = m_server.hub;
        const size_t defaultScale = hub.defaultScale();
        const Site site{m_server.policy,
                        m_server.commands[defaultScale],
                        m_server.token,
                        [&hub, defaultScale] { return hub.weightAnswer(defaultScale); },
                        hub.portStatus(defaultScale),
                        m_server.streams->value >= m_server.limits.maxClients,
                        &m_server.names,
                        &m_server.commands,
                        defaultScale,
                        [&hub](size_t scale) { return hub.weightAnswer(scale); },
                        [&hub] { return hub.scalesAnswer(); }};
        Answer answer = route(request, site);
        m_cors = answer.allowOrigin;
        if (!answer.notice.empty()) m_server.tell(answer.notice);
        if (answer.close)
            return fail(static_cast<http::status>(answer.status), answer.body, answer.contentType);
        switch (answer.action) {
        case Answer::Action::respond:
            return send(response(req, answer));
        case Answer::Action::command:
            return command(req, answer);
        case Answer::Action::events:
            m_stream.expires_never();
            return startEvents({answer.plain, answer.scales});
        case Answer::Action::webSocket: {
            m_stream.expires_never();
            auto client = std::make_shared<WebSocketClient>(m_server, m_stream.release_socket());
            client->setInterest({answer.plain, answer.scales});
            client->start(std::move(req), m_buffer);
            return;
        }
        }
    }

    // Queued at the desk, which answers: the frame that shows the command's effect, 504 when none
    // came in time, 429 when too many wait. The desk answers every command within its queue's
    // and its timeout's time, so the sessions it holds are few and let go soon, on this thread.
    void command(const http::request<http::string_body>& req, const Answer& accepted) {
        auto answer = [self = shared_from_this(),
                       head = response(req, accepted)](int status, std::string body) {
            Response res = head;
            res.result(static_cast<http::status>(status));
            res.body() = body + "\n";
            res.prepare_payload();
            self->send(std::move(res));
        };
        if (!m_server.desks[accepted.scale]->desk.submit(accepted.command, answer)) {
            Answer busy = accepted;
            busy.status = 429;
            busy.body = jsonText({{"error", kTooManyCommands}}) + "\n";
            busy.headers.emplace_back("Retry-After", "1");
            send(response(req, busy));
            return;
        }
        m_server.pumpCommands(accepted.scale);
    }

    void startEvents(Interest interest) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                           "Cache-Control: no-store\r\nConnection: close\r\nServer: tolvak\r\n";
        if (!m_cors.empty())
            head += "Access-Control-Allow-Origin: " + m_cors + "\r\nVary: Origin\r\n";
        head += "\r\n";
        auto client = std::make_shared<SseClient>(m_server, m_stream.release_socket());
        client->setInterest(std::move(interest));
        client->start(head);
    }

    Response response(const http::request<http::string_body>& req, const Answer& answer) {
        Response res{static_cast<http::status>(answer.status), req.version()};
        res.set(http::field::server, "tolvak");
        if (!answer.contentType.empty()) res.set(http::field::content_type, answer.contentType);
        res.set(http::field::cache_control, "no-store");
        if (!m_cors.empty()) {
            res.set(http::field::access_control_allow_origin, m_cors);
            res.set(http::field::vary, "Origin");
        }
        for (const auto& [name, value] : answer.headers)
            res.set(name, value);
        res.keep_alive(req.keep_alive());
        res.body() = answer.body;
        res.prepare_payload();
        return res;
    }

    // Refuses the request and closes the connection after the answer.
    void fail(http::status status, std::string why, const std::string& type = "text/plain") {
        Response res{status, 11};
        res.set(http::field::server, "tolvak");
        res.set(http::field::content_type, type);
        res.keep_alive(false);
        if (why.empty() || why.back() != '\n') why += '\n';
        res.body() = std::move(why);
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

    SharedState& m_server;
    ClientSlot m_slot;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::string m_cors;
    std::optional<Clock::time_point> m_waitingSince;
};

void startSession(SharedState& server, tcp::socket socket) {
    auto session = std::make_shared<HttpSession>(server, std::move(socket));
    server.sessions.push_back(session);
    session->start();
}

// The connection that has waited longest for a request (idle between requests, or sending one
// slowly): whoever connects now has something to ask. Streams stay.
bool evictIdle(SharedState& server) {
    auto& sessions = server.sessions;
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

} // namespace tolvak::cli::web
