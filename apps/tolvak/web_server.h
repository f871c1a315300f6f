#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tolvak/web_policy.h"

namespace tolvak::cli {

struct ServerLimits {
    size_t maxClients = 64;
    size_t clientBuffer = 1 << 20;    // bytes queued for one client before it is dropped
    size_t maxHeaderBytes = 8 * 1024; // request line and header fields together
    size_t maxHeaderFields = 64;
    std::chrono::seconds requestTimeout{15};        // to send a whole request, and between requests
    std::chrono::seconds writeTimeout{30};          // for a response to leave
    std::chrono::seconds heartbeat{15};             // an SSE comment when nothing else was sent
    std::chrono::milliseconds commandTimeout{2000}; // for the indicator's reply to a command
};

// The HTTP, Server-Sent Events and WebSocket side of `tolvak serve`. It runs on the thread that
// calls run(); readings and port states come in from any thread through post...(), which never
// blocks: each client has its own bounded queue, so no client can hold up the reader or another
// client.
class WebServer {
  public:
    // Binds and listens at once; throws std::system_error when it cannot.
    WebServer(AccessPolicy policy, ServerLimits limits);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    uint16_t port() const; // the bound port (useful with port 0)

    // Commands to the indicator (POST /api/NAME for each name): the handler runs on the
    // server's thread and calls reply, from any thread, with an HTTP status and a JSON body.
    // Without a reply in commandTimeout the client gets 504. No handler: POST is refused.
    using Reply = std::function<void(int status, std::string body)>;
    void setCommands(std::vector<std::string> names,
                     std::function<void(const std::string& name, Reply reply)> handler);

    void postReading(const Reading& reading);
    void postPort(const PortStatus& port);

    // Serves until stop() or SIGINT/SIGTERM.
    void run();
    void stop(); // from any thread

  private:
    struct Impl;
    std::shared_ptr<Impl> m_impl;
};

} // namespace tolvak::cli
