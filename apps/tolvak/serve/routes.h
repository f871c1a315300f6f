#pragma once

// Which answer a request gets: a pure function of the request and of what the server tells it,
// so that every rule of access and every path is tested without a socket.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tolvak/feed/port_status.h"
#include "tolvak/serve/access.h"

namespace tolvak::cli {

struct Request {
    std::string method; // "GET", "POST", "OPTIONS"...
    std::string target; // the path, without the query
    std::vector<std::string_view> hosts;
    std::vector<std::string_view> origins;
    std::vector<std::string_view> authorizations;
    bool webSocketUpgrade = false;
    std::string query{}; // after the '?', without it
};

// What the routes need of the server.
struct Site {
    const AccessPolicy& policy;
    const std::vector<std::string>& commands; // offered with --allow-commands
    // The token commands must bear, empty for none; throws std::runtime_error when unreadable.
    std::function<std::string()> token;
    std::function<std::string()> weight; // the /api/weight answer
    const PortStatus& port;
    bool streamsFull = false;
    // The scales by name, each with its commands offered; the paths above stand for
    // defaultScale. None: the one scale, without /api/scales.
    const std::vector<std::string>* scales = nullptr;
    const std::vector<std::vector<std::string>>* scaleCommands = nullptr;
    size_t defaultScale = 0;
    std::function<std::string(size_t scale)> scaleWeight{}; // /api/scales/NAME/weight
    std::function<std::string()> scaleList{};               // /api/scales
};

struct Answer {
    // respond: status, headers and body as they are. events, webSocket: the stream starts (or
    // status and body refuse it). command: the desk answers later.
    enum class Action { respond, events, webSocket, command };
    Action action = Action::respond;
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool close = false;      // a refusal: the connection closes after it
    std::string allowOrigin; // for Access-Control-Allow-Origin, empty for none
    std::string command;     // with Action::command
    // A page or host refused, for the operator: the server tells each such line once.
    std::string notice;
    size_t scale = 0; // the scale of Action::command
    // Of a stream: the default scale as a single-scale server sends it, and scales by name.
    bool plain = true;
    std::vector<size_t> scales;
};

Answer route(const Request& request, const Site& site);

} // namespace tolvak::cli
