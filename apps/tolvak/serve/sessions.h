#pragma once

#include "tolvak/serve/net.h"
#include "tolvak/serve/shared_state.h"

namespace tolvak::cli::web {

// Serves HTTP on the socket until it closes or turns into an event stream or a WebSocket.
void startSession(SharedState& server, tcp::socket socket);
// Closes the plain connection that has waited longest for a request; false when none waits.
bool evictIdle(SharedState& server);

} // namespace tolvak::cli::web
