#include "tolvak/publish/mqtt_publisher.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <boost/asio/ip/host_name.hpp>
#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include "tolvak/output/text_format.h"
#include "tolvak/publish/weighing_store.h"

namespace tolvak::cli {

bool mqttBuiltIn() {
    return true;
}

bool mqttTlsBuiltIn() {
    // A libmosquitto without TLS answers every TLS setting so, before it looks at the client.
    return mosquitto_tls_insecure_set(nullptr, false) != MOSQ_ERR_NOT_SUPPORTED;
}

namespace {

using namespace std::chrono_literals;

constexpr int kKeepAlive = 20;            // seconds: a network that went away is noticed in 30
constexpr size_t kReadingsInFlight = 256; // unsent readings before more are dropped
const std::string kOffline =
    R"({"type":"port","state":"offline","device":null,"error":null,"message":"tolvak is offline"})";

bool sameShown(const Reading& a, const Reading& b) {
    return a.text == b.text && a.stable == b.stable && a.unit == b.unit && a.mode == b.mode &&
           a.overload == b.overload && a.underload == b.underload;
}

} // namespace

struct MqttPublisher::Impl {
    Impl(const MqttSettings& s, const std::string& scale, Hooks h)
        : settings(s), hooks(std::move(h)),
          base(s.prefix + '/' + (s.site.empty() ? boost::asio::ip::host_name() : s.site) + '/' +
               scale),
          store((s.storeDir.empty() ? defaultStoreDir() : s.storeDir) + '/' + scale + ".weighings",
                {}) {
        static const int initialised = mosquitto_lib_init();
        (void)initialised;
        where = settings.host + ':' + std::to_string(settings.port);
    }

    // Everything below under mutex, but for the loop's own locals.
    const MqttSettings settings;
    const Hooks hooks;
    const std::string base;
    std::string where;
    std::mutex mutex;
    std::condition_variable wake;
    WeighingStore store;
    WeighingWatch watch;
    std::optional<Reading> lastSent;
    std::string portMessage;
    mosquitto* mosq = nullptr; // the live connection's, or none
    bool connected = false;
    std::atomic<bool> stopping{false};
    std::atomic<bool> refused{false};
    bool outageSaid = false;
    std::chrono::seconds backoff = 1s;
    std::map<int, uint64_t> weighingsInFlight; // message id -> store id
    std::optional<int> offlineMid;
    size_t readingsInFlight = 0;
    uint64_t droppedReadings = 0;
    uint64_t storeDropsSaid = 0;
    std::thread thread;

    std::string topic(const char* leaf) const { return base + '/' + leaf; }

    // QoS 0 for readings (the next one replaces it), 1 for the rest.
    std::optional<int> publish(const std::string& topic, const std::string& payload, int qos,
                               bool retain) {
        int mid = 0;
        if (!mosq || mosquitto_publish(mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                       payload.data(), qos, retain) != MOSQ_ERR_SUCCESS)
            return std::nullopt;
        return mid;
    }

    void sendWeighing(const WeighingStore::Entry& e) {
        if (auto mid = publish(topic("weighing"), e.payload, 1, false))
            weighingsInFlight[*mid] = e.id;
    }

    void onReading(const Reading& r, const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex);
        if (watch.isWeighing(r)) {
            nlohmann::ordered_json weighing;
            weighing["type"] = "weighing";
            weighing["id"] = store.nextId();
            weighing.update(readingObject(r));
            const std::string payload = jsonText(weighing);
            try {
                store.append(payload);
                if (connected) sendWeighing(store.pending().back());
            } catch (const std::exception& e) {
                // Still sent while the broker is there, only not kept for when it is not.
                hooks.log("MQTT: a weighing could not be stored: " + std::string(e.what()));
                if (connected) publish(topic("weighing"), payload, 1, false);
            }
            sayStoreDrops();
        }
        if (settings.readings == MqttSettings::Readings::none) return;
        if (settings.readings == MqttSettings::Readings::changes && lastSent &&
            sameShown(*lastSent, r))
            return;
        if (!connected || readingsInFlight >= kReadingsInFlight) {
            ++droppedReadings;
            return;
        }
        if (publish(topic("reading"), message, 0, false)) {
            ++readingsInFlight;
            lastSent = r;
        }
    }

    void sayStoreDrops() {
        if (store.dropped() == storeDropsSaid) return;
        storeDropsSaid = store.dropped();
        hooks.log("MQTT: the store " + store.path() +
                  " is full: " + std::to_string(storeDropsSaid) + " oldest weighings dropped");
    }

    // The thread: one libmosquitto client per connection, so that nothing it kept from the last
    // one is sent twice: what the broker has not acknowledged is sent again from the store.
    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping && !refused) {
            mosquitto* m = newClient();
            mosq = m;
            lock.unlock();
            int rc =
                m ? mosquitto_connect_async(m, settings.host.c_str(), settings.port, kKeepAlive)
                  : MOSQ_ERR_NOMEM;
            while (rc == MOSQ_ERR_SUCCESS && !stopping && !refused)
                rc = mosquitto_loop(m, 500, 1);
            lock.lock();
            connected = false;
            mosq = nullptr;
            weighingsInFlight.clear();
            readingsInFlight = 0;
            lock.unlock();
            const std::string reason =
                rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
            if (m) mosquitto_destroy(m);
            lock.lock();
            if (stopping || refused) break;
            if (!outageSaid) {
                outageSaid = true;
                hooks.log("MQTT: the broker " + where + " cannot be reached (" + reason +
                          "); weighings are kept in " + store.path());
            }
            wake.wait_for(lock, backoff, [this] { return stopping.load(); });
            backoff = std::min<std::chrono::seconds>(backoff * 2, 30s);
        }
    }

    mosquitto* newClient() {
        mosquitto* m = mosquitto_new(nullptr, true, this);
        if (!m) return nullptr;
        mosquitto_threaded_set(m, true);
        mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        if (!settings.user.empty())
            mosquitto_username_pw_set(m, settings.user.c_str(),
                                      settings.password.empty() ? nullptr
                                                                : settings.password.c_str());
        if (settings.tls &&
            mosquitto_tls_set(m, settings.caFile.empty() ? nullptr : settings.caFile.c_str(),
                              settings.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr,
                              nullptr, nullptr) != MOSQ_ERR_SUCCESS) {
            refused = true;
            hooks.fatal("--mqtt-ca: cannot use " + settings.caFile);
            mosquitto_destroy(m);
            return nullptr;
        }
        const std::string will = topic("state");
        mosquitto_will_set(m, will.c_str(), static_cast<int>(kOffline.size()), kOffline.data(), 1,
                           true);
        mosquitto_connect_callback_set(
            m, [](mosquitto*, void* self, int rc) { static_cast<Impl*>(self)->onConnect(rc); });
        mosquitto_publish_callback_set(
            m, [](mosquitto*, void* self, int mid) { static_cast<Impl*>(self)->onPublish(mid); });
        mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
            static_cast<Impl*>(self)->onMessage(msg);
        });
        return m;
    }

    void onConnect(int rc) {
        std::unique_lock<std::mutex> lock(mutex);
        if (rc == 4 || rc == 5) {
            refused = true;
            lock.unlock();
            hooks.fatal("the MQTT broker " + where + " refused the user name or password");
            return;
        }
        if (rc != 0) return; // the loop ends and tries again
        connected = true;
        backoff = 1s;
        if (outageSaid) hooks.log("MQTT: connected to " + where + " again");
        outageSaid = false;
        if (!portMessage.empty()) publish(topic("state"), portMessage, 1, true);
        if (settings.commands) {
            const std::string commands = topic("command/+");
            mosquitto_subscribe(mosq, nullptr, commands.c_str(), 1);
        }
        for (const auto& e : store.pending())
            sendWeighing(e);
    }

    void onPublish(int mid) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = weighingsInFlight.find(mid);
        if (it == weighingsInFlight.end()) {
            if (readingsInFlight) --readingsInFlight;
            if (offlineMid == mid) {
                offlineMid.reset();
                wake.notify_all();
            }
            return;
        }
        try {
            store.remove(it->second);
        } catch (const std::exception& e) {
            hooks.log("MQTT: " + std::string(e.what()));
        }
        weighingsInFlight.erase(it);
    }

    void onMessage(const mosquitto_message* msg) {
        const std::string prefix = topic("command/");
        const std::string name =
            std::string(msg->topic).substr(std::min(prefix.size(), std::string(msg->topic).size()));
        const auto& offered = hooks.commands;
        if (std::find(offered.begin(), offered.end(), name) == offered.end())
            return reply(name, 404, jsonText({{"error", "no such command: " + name}}));
        hooks.submit(name, [this, name](int status, std::string body) {
            reply(name, status, std::move(body));
        });
    }

    void reply(const std::string& name, int status, const std::string& body) {
        nlohmann::ordered_json answer;
        answer["command"] = name;
        answer["status"] = status;
        const auto parsed = nlohmann::ordered_json::parse(body, nullptr, false);
        if (parsed.is_object()) answer.update(parsed);
        std::lock_guard<std::mutex> lock(mutex);
        if (connected) publish(topic("reply"), jsonText(answer), 1, false);
    }

    void stop() {
        std::unique_lock<std::mutex> lock(mutex);
        if (!thread.joinable()) return;
        if (connected) {
            // The broker keeps the will for a connection that breaks, not for one closed cleanly.
            offlineMid = publish(topic("state"), kOffline, 1, true);
            if (offlineMid) wake.wait_for(lock, 3s, [this] { return !connected || !offlineMid; });
        }
        stopping = true;
        if (mosq) mosquitto_disconnect(mosq);
        wake.notify_all();
        lock.unlock();
        thread.join();
        if (droppedReadings)
            hooks.log("MQTT: " + std::to_string(droppedReadings) +
                      " readings were not published (no broker, or it fell behind)");
    }
};

MqttPublisher::MqttPublisher(const MqttSettings& settings, const std::string& scale, Hooks hooks)
    : m_impl(std::make_unique<Impl>(settings, scale, std::move(hooks))) {}

MqttPublisher::~MqttPublisher() {
    stop();
}

void MqttPublisher::start() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (!m_impl->thread.joinable()) m_impl->thread = std::thread([this] { m_impl->run(); });
}

void MqttPublisher::reading(const Reading& reading, const std::string& message) {
    m_impl->onReading(reading, message);
}

void MqttPublisher::port(const std::string& message) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->portMessage = message;
    if (m_impl->connected) m_impl->publish(m_impl->topic("state"), message, 1, true);
}

void MqttPublisher::stop() {
    m_impl->stop();
}

} // namespace tolvak::cli
