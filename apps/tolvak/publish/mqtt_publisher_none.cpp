// A build without libmosquitto: serve refuses --mqtt before it gets here.
#include "tolvak/publish/mqtt_publisher.h"

#include <stdexcept>

namespace tolvak::cli {

bool mqttBuiltIn() {
    return false;
}

bool mqttTlsBuiltIn() {
    return false;
}

struct MqttPublisher::Impl {};

MqttPublisher::MqttPublisher(const MqttSettings&, const std::string&, Hooks) {
    throw std::runtime_error("this tolvak is built without MQTT");
}
MqttPublisher::~MqttPublisher() = default;
void MqttPublisher::start() {}
void MqttPublisher::reading(const Reading&, const std::string&) {}
void MqttPublisher::port(const std::string&) {}
void MqttPublisher::stop() {}

} // namespace tolvak::cli
