#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "MeterState.h"
#include "MqttPublisher.h"
#include "ReadingMessage.h"

// The readings of one meter as messages on PREFIX/<client>/reading, numbered from 1 in the
// order they are sent, with PREFIX/<client>/status telling whether the program is connected.
class ReadingPublisher {
public:
    // `device` is the port's device or the file read; the password comes from the environment.
    ReadingPublisher(const PublishRequest& request, const std::string& model, const std::string& device,
                     MqttPublisher::StateListener listener = {}, std::size_t queueBound = 10000);

    // The client's name by default: the model and the device's base name ("KR31G-ttyUSB0").
    static std::string defaultClientName(const std::string& model, const std::string& device);

    // One decoded reading. With an interval, a reading within it is held back and replaced by the
    // next; `tick` or `finish` sends the one held once the interval is over.
    void offer(const MeterState& reading);
    void tick();
    void finish();

    // With it, a full queue makes `offer` wait for the broker instead of dropping the oldest.
    void setWaitForRoom(bool wait) { waitForRoom_ = wait; }

    const std::string& clientName() const { return clientName_; }
    MqttPublisher& client() { return *client_; }
    // The broker, its state and the counts, in one line.
    std::string summary() const;

private:
    using Clock = std::chrono::steady_clock;
    void send(const MeterState& reading, std::chrono::system_clock::time_point at);

    std::string clientName_;
    std::string model_;
    std::chrono::seconds every_;
    std::unique_ptr<MqttPublisher> client_;
    bool waitForRoom_ = false;
    uint64_t seq_ = 0;
    IsoClock clock_;
    std::optional<Clock::time_point> lastSent_;
    std::optional<std::pair<MeterState, std::chrono::system_clock::time_point>> held_;
};
