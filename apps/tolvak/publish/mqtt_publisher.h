#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tolvak/publish/mqtt_settings.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// False in a build without libmosquitto: --mqtt is then a usage error.
bool mqttBuiltIn();
// False where libmosquitto is built without TLS (tolvak.exe's): mqtts:// is then a usage error.
bool mqttTlsBuiltIn();

// One weighing for each load that settles: the first stable reading of a weight above zero after
// the scale was in motion, at zero or empty, or showed no number. A truck that stands for an hour
// is one weighing; one that drives off and comes back is two. Losing the port does not count as
// motion, so the same truck is not weighed again when the line comes back.
class WeighingWatch {
  public:
    bool isWeighing(const Reading& r) {
        const bool loaded = r.stable && r.value && *r.value > 0 && !r.overload && !r.underload;
        if (!r.stable || !r.value || *r.value <= 0) m_armed = true;
        if (!loaded || !m_armed) return false;
        m_armed = false;
        return true;
    }

  private:
    bool m_armed = true;
};

// A sink of one scale's readings: publishes them to an MQTT broker under PREFIX/SITE/SCALE/
// (reading, weighing, state, reply; command/NAME taken in). The broker is spoken to on a thread of
// the publisher's own, which connects, reconnects (after 1 s, doubling to 30 s) and runs
// libmosquitto's loop; reading() and port() only queue and never wait for the network, so the
// scale's reader is never held up by the broker. Weighings are kept in a WeighingStore until the
// broker acknowledges them, and sent in order after an outage or a restart.
class MqttPublisher {
  public:
    using Answer = std::function<void(int status, std::string body)>;
    struct Hooks {
        std::vector<std::string> commands; // the command names that may be asked for
        // Queues a command at the server's desk; answer is called once, from any thread.
        std::function<void(const std::string& name, Answer answer)> submit;
        std::function<void(const std::string& line)> log;   // a change of state, said once
        std::function<void(const std::string& line)> fatal; // it cannot go on (login refused)
    };

    // Opens the scale's store (throws std::runtime_error when it cannot).
    MqttPublisher(const MqttSettings& settings, const std::string& scale, Hooks hooks);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    void start();
    // From the reader's thread: the reading, and its message as the server sends it.
    void reading(const Reading& reading, const std::string& message);
    // The port's state as the server sends it, published retained.
    void port(const std::string& message);
    // Marks the scale offline, disconnects and ends the thread; weighings not taken stay stored.
    void stop();

    struct Impl;

  private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace tolvak::cli
