#include "ReadingPublisher.h"

#include <unistd.h>

#include <cstdlib>

namespace {

const char kPasswordVariable[] = "DMMVIEW_MQTT_PASSWORD";

}  // namespace

std::string ReadingPublisher::defaultClientName(const std::string& model, const std::string& device) {
    std::string base = device == "-" ? std::string("stdin") : device;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const auto slash = base.rfind('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    return model + "-" + base;
}

ReadingPublisher::ReadingPublisher(const PublishRequest& request, const std::string& model,
                                   const std::string& device, MqttPublisher::StateListener listener,
                                   std::size_t queueBound)
    : clientName_(topicLevel(request.clientName.empty() ? defaultClientName(model, device) : request.clientName)),
      model_(model),
      every_(request.everySeconds) {
    PublisherSettings s;
    s.url = request.url;
    if (const char* password = std::getenv(kPasswordVariable)) s.password = password;
    s.caFile = request.caFile;
    // two programs publishing under one name must not push each other off the broker
    s.clientId = clientName_ + "-" + std::to_string(::getpid());
    const std::string base = request.url.prefix + "/" + clientName_;
    s.readingTopic = base + "/reading";
    s.statusTopic = base + "/status";
    s.queueBound = queueBound;
    client_ = std::make_unique<MqttPublisher>(std::move(s), std::move(listener));
}

void ReadingPublisher::offer(const MeterState& reading) {
    const auto now = std::chrono::system_clock::now();
    if (every_.count() == 0) {
        send(reading, now);
        return;
    }
    const auto steady = Clock::now();
    if (!lastSent_ || steady - *lastSent_ >= every_) {
        held_.reset();
        lastSent_ = steady;
        send(reading, now);
    } else {
        held_.emplace(reading, now);
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

void ReadingPublisher::send(const MeterState& reading, std::chrono::system_clock::time_point at) {
    client_->publish(readingJson(++seq_, clock_.format(at), reading, model_), waitForRoom_);
}

std::string ReadingPublisher::summary() const {
    const PublisherStatus s = client_->status();
    std::string text = client_->settings().url.display() + " as " + clientName_ + ": ";
    if (s.state == BrokerState::Online) text += "connected";
    else if (s.state == BrokerState::Connecting) text += "connecting";
    else text += "not reached (" + s.reason + "), trying again every " + std::to_string(s.retrySeconds) + " s";
    return text + "; " + std::to_string(s.sent) + " readings sent, " + std::to_string(s.waiting) + " waiting, " +
           std::to_string(s.dropped) + " dropped";
}
