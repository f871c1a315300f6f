#include "tolvak/serve/messages.h"

#include "tolvak/output/text_format.h"

namespace tolvak::cli {

nlohmann::ordered_json portObject(const PortStatus& port) {
    nlohmann::ordered_json object;
    object["state"] = stateName(port.state);
    object["device"] = port.device;
    object["error"] =
        port.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(port.error);
    switch (port.state) {
    case PortStatus::State::connected:
        object["message"] = "connected";
        break;
    case PortStatus::State::waiting:
        object["message"] = "waiting for the device";
        break;
    case PortStatus::State::blocked:
        object["message"] = "the device cannot be used";
        break;
    case PortStatus::State::closed:
        object["message"] = "closed";
        break;
    }
    const auto textOrNull = [](const std::string& text) {
        return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
    };
    object["hint"] = textOrNull(port.hint);
    object["diagnosis"] = textOrNull(port.diagnosis);
    return object;
}

std::string readingMessage(const Reading& reading, uint64_t seq, const std::string* scale) {
    nlohmann::ordered_json message;
    message["type"] = "reading";
    if (scale) message["scale"] = *scale;
    message["seq"] = seq;
    message.update(readingObject(reading));
    return jsonText(message);
}

std::string portMessage(const PortStatus& port, const std::string* scale) {
    nlohmann::ordered_json message;
    message["type"] = "port";
    if (scale) message["scale"] = *scale;
    message.update(portObject(port));
    return jsonText(message);
}

nlohmann::ordered_json weightObject(const Reading* latest, uint64_t seq, const PortStatus& port,
                                    std::chrono::system_clock::time_point now) {
    nlohmann::ordered_json answer;
    if (latest) {
        answer["seq"] = seq;
        answer.update(readingObject(*latest));
        if (port.state != PortStatus::State::connected) answer["stable"] = false;
        answer["ageMs"] =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - latest->time).count();
    } else {
        for (const char* key : {"seq", "weight", "value"})
            answer[key] = nullptr;
        answer["stable"] = false;
        answer["time"] = nullptr;
        answer["ageMs"] = nullptr;
    }
    answer["port"] = portObject(port);
    return answer;
}

std::string weightAnswer(const Reading* latest, uint64_t seq, const PortStatus& port,
                         std::chrono::system_clock::time_point now) {
    return jsonText(weightObject(latest, seq, port, now));
}

int healthStatus(const PortStatus& port) {
    return port.state == PortStatus::State::connected ? 200 : 503;
}

std::string healthAnswer(const PortStatus& port) {
    nlohmann::ordered_json health;
    health["status"] = healthStatus(port) == 200 ? "ok" : "no device";
    health["port"] = portObject(port);
    return jsonText(health);
}

std::string sseEvent(const std::string& type, std::optional<uint64_t> id, const std::string& json) {
    std::string event = "event: " + type + "\n";
    if (id) event += "id: " + std::to_string(*id) + "\n";
    // jsonText is one line, so one data line carries it.
    event += "data: " + json + "\n\n";
    return event;
}

std::string webSocketTextFrame(const std::string& payload) {
    std::string frame(1, '\x81'); // FIN, text
    const uint64_t size = payload.size();
    int lengthBytes = 0;
    if (size < 126) {
        frame += static_cast<char>(size);
    } else if (size <= 0xFFFF) {
        frame += static_cast<char>(126);
        lengthBytes = 2;
    } else {
        frame += static_cast<char>(127);
        lengthBytes = 8;
    }
    for (int i = lengthBytes - 1; i >= 0; --i)
        frame += static_cast<char>((size >> (8 * i)) & 0xFF);
    return frame + payload;
}

} // namespace tolvak::cli
