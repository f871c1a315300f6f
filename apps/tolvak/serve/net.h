#pragma once

// The names the server's files share, as Beast's own examples keep them. Beast's HTTP and
// WebSocket headers are not among them: they compile slowly, and only sessions.cpp needs them.

#include <chrono>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>

namespace tolvak::cli::web {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using ErrorCode = boost::system::error_code;
using Clock = std::chrono::steady_clock;

} // namespace tolvak::cli::web
