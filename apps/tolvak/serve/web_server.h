#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tolvak/feed/port_status.h"
#include "tolvak/feed/scale_sink.h"
#include "tolvak/scale.h"
#include "tolvak/serve/access.h"

namespace tolvak::cli {

struct ServerLimits {
    size_t maxClients = 64;           // streams (SSE and WebSocket) at once
    size_t shortReserve = 8;          // connections beyond those, kept for short requests
    size_t clientBuffer = 1 << 20;    // bytes queued for one client before it is dropped
    size_t maxHeaderBytes = 8 * 1024; // request line and header fields together
    size_t maxHeaderFields = 64;
    std::chrono::seconds requestTimeout{15};        // to send a whole request, and between requests
    std::chrono::seconds writeTimeout{30};          // for a response to leave
    std::chrono::seconds heartbeat{15};             // an SSE comment when nothing else was sent
    std::chrono::milliseconds commandTimeout{2000}; // for the frame that shows a command's effect
    std::chrono::milliseconds commandInterval{300}; // from the start of one command to the next
    size_t commandQueue = 4; // commands waiting for the line; more are answered 429
};

// The HTTP, Server-Sent Events and WebSocket side of `tolvak serve`, for one or several scales.
// It runs on the thread that calls run(); readings and port states come in from any thread, as
// a sink of the scales' feeds, and never block: each client has its own bounded queue, so no
// client can hold up a reader or another client, and no scale another.
class WebServer : public ScaleSink {
  public:
    // Binds and listens at once; throws std::system_error when it cannot. scales: their names;
    // defaultScale: the one the single-scale paths (/api/weight, /api/events...) stand for.
    WebServer(AccessPolicy policy, ServerLimits limits, std::vector<std::string> scales,
              size_t defaultScale);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    uint16_t port() const; // the bound port (useful with port 0)

    // Commands to the indicators (POST /api/scales/SCALE/NAME, and /api/NAME for the default
    // scale), one at a time for each scale (see CommandDesk). names: each scale's, by index.
    // write runs on the server's thread, writes the command's bytes to the scale's line and calls
    // done, from any thread, with an error text when they could not be sent. token gives the
    // token that requests must bear, empty for none, and throws std::runtime_error when it
    // cannot be read. No commands: POST is refused.
    using Written = std::function<void(std::optional<std::string> error)>;
    using Write = std::function<void(size_t scale, const std::string& name, Written done)>;
    void setCommands(std::vector<std::vector<std::string>> names, Write write,
                     std::function<std::string()> token);

    // A command from elsewhere than HTTP (the MQTT broker) through the scale's desk, so that the
    // same rules hold for the line: answer gets, from the server's thread, the status and JSON
    // body a POST would have had. From any thread.
    void submitCommand(const std::string& scale, std::string name,
                       std::function<void(int status, std::string body)> answer);
    // Where refusals of hosts and pages are told, each line once; on the server's thread.
    void onNotice(std::function<void(const std::string& line)> tell);

    // From any thread; a name the server does not have is ignored.
    void onReading(const std::string& scale, const Reading& reading) override;
    void onPortState(const std::string& scale, const PortStatus& port) override;

    // Serves until stop() or SIGINT/SIGTERM.
    void run();
    void stop(); // from any thread

  private:
    std::optional<size_t> indexOf(const std::string& scale) const;

    struct Impl;
    std::shared_ptr<Impl> m_impl;
};

} // namespace tolvak::cli
