#include "ReadingPublisher.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace {

const char kPasswordVariable[] = "DMMVIEW_MQTT_PASSWORD";
// A service manager hands secrets over as files in this folder; the logger's unit names it so.
const char kCredentialsVariable[] = "CREDENTIALS_DIRECTORY";
const char kPasswordCredential[] = "mqtt-password";

// The password from the environment, or else from the service's credential file (its first line).
std::string brokerPassword() {
    if (const char* password = std::getenv(kPasswordVariable)) return password;
    const char* folder = std::getenv(kCredentialsVariable);
    if (!folder) return {};
    std::ifstream file(std::string(folder) + "/" + kPasswordCredential);
    std::string password;
    std::getline(file, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string host = name;
    return host.substr(0, host.find('.'));
}

// A client id no other run shares, on this computer or another: the broker would otherwise
// push the older connection off.
std::string sessionId(const std::string& client) {
    std::random_device random;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "-%08x%04x", random(), random() & 0xFFFFu);
    return client + suffix;
}

}  // namespace

std::string ReadingPublisher::defaultClientName(const std::string& model, const std::string& device) {
    std::string base = device == "-" ? std::string("stdin") : device;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const auto slash = base.rfind('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    return model + "-" + base + "@" + hostName();
}

ReadingPublisher::ReadingPublisher(const PublishRequest& request, const std::string& model,
                                   const std::string& device, MqttPublisher::StateListener listener,
                                   std::size_t queueBound)
    : clientName_(
          topicLevel(request.clientName.empty() ? defaultClientName(model, device) : request.clientName)),
      model_(model),
      every_(request.everySeconds),
      discoveryPrefix_(request.discoveryPrefix) {
    PublisherSettings s;
    s.url = request.url;
    s.password = brokerPassword();
    s.caFile = request.caFile;
    s.clientId = sessionId(clientName_);
    const std::string base = request.url.prefix + "/" + clientName_;
    s.readingTopic = base + "/reading";
    s.statusTopic = base + "/status";
    s.queueBound = queueBound;
    client_ = std::make_unique<MqttPublisher>(std::move(s), std::move(listener));
}

void ReadingPublisher::offer(const MeterReading& reading, const LocalStamp& at) {
    if (every_.count() == 0) {
        send(reading, at);
        return;
    }
    const auto steady = Clock::now();
    if (!lastSent_ || steady - *lastSent_ >= every_) {
        held_.reset();
        lastSent_ = steady;
        send(reading, at);
    } else {
        held_.emplace(reading, at);
    }
}

void ReadingPublisher::tick() {
    if (!held_ || (lastSent_ && Clock::now() - *lastSent_ < every_)) return;
    lastSent_ = Clock::now();
    finish();
}

void ReadingPublisher::finish() {
    if (!held_) return;
    send(held_->first, held_->second);
    held_.reset();
}

void ReadingPublisher::send(const MeterReading& reading, const LocalStamp& at) {
    if (!discoveryPrefix_.empty() && (!announced_ || reading.unit != announcedUnit_)) {
        announced_ = true;
        announcedUnit_ = reading.unit;
        announce(reading.unit);
    }
    QByteArray message;
    if (reading.model.empty()) {
        MeterReading named = reading;
        named.model = model_;
        message = readingJson(++seq_, isoTime(at), named);
    } else {
        message = readingJson(++seq_, isoTime(at), reading);
    }
    // once a wait was broken off (the run is ending) the rest of the input goes without one
    while (whileWaiting_ && !waitBrokenOff_ && !client_->waitForRoom(std::chrono::milliseconds(100))) {
        if (!whileWaiting_()) waitBrokenOff_ = true;
    }
    client_->publish(std::move(message), static_cast<bool>(whileWaiting_));
}

// The sensor's configuration, retained: a tool that starts later still finds the meter, and a
// new unit replaces the old configuration.
void ReadingPublisher::announce(const std::string& unit) {
    const PublisherSettings& s = client_->settings();
    const SensorDiscovery d =
        sensorDiscovery(discoveryPrefix_, clientName_, model_, s.readingTopic, s.statusTopic, unit);
    client_->publishRetained(d.configTopic, d.config);
}

bool ReadingPublisher::publishRetainedOn(const std::string& subtopic, QByteArray payload) {
    if (subtopic.empty() || subtopic.front() == '/' || subtopic.back() == '/' ||
        subtopic.find("//") != std::string::npos || !topicNameError(subtopic).empty())
        return false;
    const std::string& status = client_->settings().statusTopic;
    const std::string base = status.substr(0, status.rfind('/') + 1);
    client_->publishRetained(base + subtopic, std::move(payload));
    return true;
}

std::string ReadingPublisher::summary() const {
    const PublisherStatus s = client_->status();
    std::string text = client_->settings().url.display() + " as " + clientName_ + ": ";
    if (s.state == BrokerState::Online)
        text += "connected";
    else if (s.state == BrokerState::Connecting)
        text += "connecting";
    else if (s.state == BrokerState::NameInUse)
        text += "not publishing (" + s.reason + ")";
    else
        text += "not reached (" + s.reason + "), trying again every " + std::to_string(s.retrySeconds) + " s";
    text += "; " + std::to_string(s.sent) + " readings sent, " + std::to_string(s.waiting) + " waiting, " +
            std::to_string(s.dropped) + " dropped";
    if (s.refused > 0) text += ", " + std::to_string(s.refused) + " refused (" + s.refusal + ")";
    return text;
}
