#pragma once

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "BrokerUrl.h"

struct mosquitto;

struct PublisherSettings {
    BrokerUrl url;
    std::string password;     // empty: none
    std::string caFile;       // mqtts: the CA to trust; empty: the system's
    std::string clientId;
    std::string readingTopic;
    std::string statusTopic;  // retained "online" while connected, "offline" as the last will
    std::size_t queueBound = 10000;
};

enum class BrokerState { Connecting, Online, Offline };

struct PublisherStatus {
    BrokerState state = BrokerState::Connecting;
    std::string reason;         // why the broker is not (or no longer) reached
    bool loginRefused = false;  // the broker turned the user name or password down
    int retrySeconds = 0;       // wait before the next attempt, while offline
    uint64_t sent = 0;          // acknowledged by the broker
    uint64_t dropped = 0;       // oldest messages let go beyond the queue's bound
    uint64_t waiting = 0;       // queued or sent and not yet acknowledged
};

// Sends messages to a broker with QoS 1 from a thread of its own, so that the caller (the receive
// path) never waits on the network. Messages wait in a bounded queue while the broker is away;
// beyond the bound the oldest go and are counted. A lost connection is tried again after 1 s,
// the wait doubling up to 30 s. Messages sent but not acknowledged when a connection breaks are
// sent again, ahead of the rest and in their order.
class MqttPublisher {
public:
    // Hears each change between online and offline, on the publisher's thread.
    using StateListener = std::function<void(const PublisherStatus&)>;

    MqttPublisher(PublisherSettings settings, StateListener listener = {});
    // Says "offline" on the status topic when connected, and disconnects.
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    const PublisherSettings& settings() const { return settings_; }

    // Queues one message on the reading topic. With `waitForRoom` (a source that loses nothing by
    // waiting, such as a file) a full queue makes the call wait while the broker takes messages.
    void publish(QByteArray payload, bool waitForRoom = false);

    PublisherStatus status() const;
    // Waits for the first connection attempt to end, at most `limit`; true when it connected.
    bool waitUntilTried(std::chrono::milliseconds limit);
    // Waits until nothing is left to send, giving up once `patience` passes without an
    // acknowledgement; true when nothing is left.
    bool drain(std::chrono::milliseconds patience);
    // "online" status and disconnection as the destructor does them, for a caller that ends first.
    void stop();

private:
    struct Message {
        QByteArray payload;
        int mid = 0;
    };
    enum class End { Stopped, Lost };

    void run();
    End session(std::string& reason);
    bool connectSession(mosquitto* mosq, std::string& reason);
    End pumpSession(mosquitto* mosq, std::string& reason);
    void sayOffline(mosquitto* mosq);
    void fillWindow(mosquitto* mosq);
    void acknowledged(int mid);
    void setState(BrokerState state, const std::string& reason, int retrySeconds);
    void wake();

    static void onConnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);

    const PublisherSettings settings_;
    StateListener listener_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Message> queue_;
    std::deque<Message> inFlight_;  // handed to the client library, in order
    PublisherStatus status_;
    bool tried_ = false;
    bool stopping_ = false;
    bool wakeWanted_ = false;  // the thread sleeps with room for more messages
    int statusMid_ = -1;       // the last status message sent, until acknowledged
    int connackCode_ = -1;     // of the session being opened
    int wakeFd_ = -1;
    std::thread thread_;
};
