// The acceptor and admission of `tolvak serve`: who gets a place, and the loop that runs it all.
#include "tolvak/serve/web_server.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "tolvak/output/text_format.h"
#include "tolvak/platform/tool_platform.h"
#include "tolvak/serve/sessions.h"
#include "tolvak/serve/shared_state.h"

namespace tolvak::cli {

using namespace web;

struct WebServer::Impl : std::enable_shared_from_this<WebServer::Impl> {
    Impl(AccessPolicy policy, ServerLimits limits, std::vector<std::string> scales,
         size_t defaultScale)
        : state(io, std::move(policy), limits, std::move(scales), defaultScale), acceptor(io),
          heartbeatTimer(io), retryTimer(io) {
        const tcp::endpoint endpoint(net::ip::make_address(state.policy.listen.address),
                                     state.policy.listen.port);
        if (const auto inherited = inheritedListener()) {
            acceptor.assign(endpoint.protocol(), *inherited); // systemd holds the port
            const tcp::endpoint held = acceptor.local_endpoint();
            if (held != endpoint)
                throw std::runtime_error("the socket systemd holds is on " +
                                         held.address().to_string() + ':' +
                                         std::to_string(held.port()) + " (match --listen to it)");
            return;
        }
        acceptor.open(endpoint.protocol());
        claimListenAddress(static_cast<std::intptr_t>(acceptor.native_handle()));
        acceptor.bind(endpoint);
        acceptor.listen(net::socket_base::max_listen_connections);
    }

    void start() {
        accept();
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
        if (state.connections->value >= state.limits.maxClients + state.limits.shortReserve &&
            !evictIdle(state)) {
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
        startSession(state, std::move(socket));
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
    web::SharedState state;
    tcp::acceptor acceptor;
    net::steady_timer heartbeatTimer;
    net::steady_timer retryTimer;
};

WebServer::WebServer(AccessPolicy policy, ServerLimits limits, std::vector<std::string> scales,
                     size_t defaultScale)
    : m_impl(std::make_shared<Impl>(std::move(policy), limits, std::move(scales), defaultScale)) {}

WebServer::~WebServer() {
    ErrorCode ignored;
    m_impl->acceptor.close(ignored);
    for (auto& desk : m_impl->state.desks)
        desk->desk.cancelAll();
    m_impl->state.hub.dropAll();
}

uint16_t WebServer::port() const {
    return m_impl->acceptor.local_endpoint().port();
}

void WebServer::setCommands(std::vector<std::vector<std::string>> names, Write write,
                            std::function<std::string()> token) {
    m_impl->state.commands = std::move(names);
    m_impl->state.writeCommand = std::move(write);
    m_impl->state.token = std::move(token);
}

void WebServer::submitCommand(const std::string& scale, std::string name,
                              std::function<void(int status, std::string body)> answer) {
    const auto i = indexOf(scale);
    if (!i) return answer(404, jsonText({{"error", "no such scale: " + scale}}));
    net::post(m_impl->io,
              [impl = m_impl, i = *i, name = std::move(name), answer = std::move(answer)] {
                  if (!impl->state.writeCommand)
                      return answer(403, jsonText({{"error", "commands are not allowed"}}));
                  if (!impl->state.desks[i]->desk.submit(name, answer))
                      return answer(429, jsonText({{"error", kTooManyCommands}}));
                  impl->state.pumpCommands(i);
              });
}

void WebServer::onNotice(std::function<void(const std::string& line)> tell) {
    m_impl->state.notice = std::move(tell);
}

std::optional<size_t> WebServer::indexOf(const std::string& scale) const {
    // The names never change after the server is made: safe from any thread.
    const std::vector<std::string>& names = m_impl->state.names;
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == scale) return i;
    return std::nullopt;
}

void WebServer::onReading(const std::string& scale, const Reading& reading) {
    if (auto i = indexOf(scale))
        net::post(m_impl->io,
                  [impl = m_impl, i = *i, reading] { impl->state.reading(i, reading); });
}

void WebServer::onPortState(const std::string& scale, const PortStatus& port) {
    if (auto i = indexOf(scale))
        net::post(m_impl->io, [impl = m_impl, i = *i, port] { impl->state.hub.port(i, port); });
}

void WebServer::run() {
    m_impl->start();
    m_impl->io.run();
}

void WebServer::stop() {
    m_impl->io.stop();
}

} // namespace tolvak::cli
