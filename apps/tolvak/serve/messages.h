#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tolvak/feed/port_status.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// The messages of /api/events and /ws and the answer of /api/weight. seq numbers the readings
// the server has had from the scale, from 1, so that a client can tell that it missed none.
// scale: the scale's name, for the streams that carry several scales; none in the single
// scale's form.
nlohmann::ordered_json portObject(const PortStatus& port);
std::string readingMessage(const Reading& reading, uint64_t seq,
                           const std::string* scale = nullptr);
std::string portMessage(const PortStatus& port, const std::string* scale = nullptr);
// latest: null before the first reading. A reading kept from before the port was lost is not
// stable: the truck it weighed may have left.
nlohmann::ordered_json weightObject(const Reading* latest, uint64_t seq, const PortStatus& port,
                                    std::chrono::system_clock::time_point now);
std::string weightAnswer(const Reading* latest, uint64_t seq, const PortStatus& port,
                         std::chrono::system_clock::time_point now);
// /healthz: the port's state, and in the status code (200 connected, 503 otherwise) so that a
// monitor needs no JSON to tell a scale that cannot be read.
int healthStatus(const PortStatus& port);
std::string healthAnswer(const PortStatus& port);
// One Server-Sent Event: "event: TYPE", an id for readings, and the JSON as data.
std::string sseEvent(const std::string& type, std::optional<uint64_t> id, const std::string& json);

// One WebSocket text message as the server sends it: a single unmasked frame.
std::string webSocketTextFrame(const std::string& payload);

} // namespace tolvak::cli
