#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "LocalClock.h"
#include "MeterReading.h"
#include "MeterState.h"
#include "MqttPublisher.h"
#include "ReadingMessage.h"

// The readings of one meter as messages on PREFIX/<client>/reading, numbered from 1 in the
// order they are sent, with PREFIX/<client>/status telling whether the program is connected.
// Each message carries the reading's time as the caller stamped it (the same stamp its row in
// the record table gets), never a clock of its own.
class ReadingPublisher {
public:
    // `device` is the port's device or the file read; the password comes from the environment.
    ReadingPublisher(const PublishRequest& request, const std::string& model, const std::string& device,
                     MqttPublisher::StateListener listener = {}, std::size_t queueBound = 10000);

    // The client's name by default: the model, the device's base name and the host's name
    // ("KR31G-ttyUSB0@benchpc"), so that two computers with the same port stay apart.
    static std::string defaultClientName(const std::string& model, const std::string& device);

    // One decoded reading, taken at `at`. With an interval, a reading within it is held back and
    // replaced by the next; `tick` or `finish` sends the one held once the interval is over.
    void offer(const MeterReading& reading, const LocalStamp& at);
    // The same for a caller that has the form's state only (publishedReading).
    void offer(const MeterState& reading, const LocalStamp& at) {
        offer(publishedReading(reading, model_), at);
    }
    void tick();
    void finish();

    // With it, a full queue makes `offer` wait for the broker instead of dropping the oldest;
    // `whileWaiting` is called every 100 ms of the wait (the caller's other duties) and ends the
    // wait when it returns false: that reading and the later ones are then queued beyond the bound.
    void setWaitForRoom(std::function<bool()> whileWaiting) { whileWaiting_ = std::move(whileWaiting); }

    // A retained message on PREFIX/<client>/<subtopic> ("alarm/overvoltage"), queued beside the
    // readings and never dropped; an empty payload clears what the broker kept there. False (and
    // nothing queued) when the subtopic is not a topic name (empty, a wildcard, a control
    // character, a leading or trailing '/').
    bool publishRetainedOn(const std::string& subtopic, QByteArray payload);

    const std::string& clientName() const { return clientName_; }
    MqttPublisher& client() { return *client_; }
    // The broker, its state and the counts, in one line.
    std::string summary() const;

private:
    using Clock = std::chrono::steady_clock;
    void send(const MeterReading& reading, const LocalStamp& at);
    void announce(const std::string& unit);

    std::string clientName_;
    std::string model_;
    std::chrono::seconds every_;
    std::string discoveryPrefix_;
    std::string announcedUnit_;  // the unit of the last discovery configuration sent
    bool announced_ = false;
    std::unique_ptr<MqttPublisher> client_;
    std::function<bool()> whileWaiting_;
    bool waitBrokenOff_ = false;
    uint64_t seq_ = 0;
    std::optional<Clock::time_point> lastSent_;
    std::optional<std::pair<MeterReading, LocalStamp>> held_;
};
