#pragma once

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "BrokerUrl.h"
#include "MqttLink.h"

struct mosquitto;

struct PublisherSettings {
    BrokerUrl url;
    std::string password;  // empty: none
    std::string caFile;    // mqtts: the CA to trust; empty: the system's
    std::string clientId;
    std::string readingTopic;
    std::string statusTopic;  // retained "online" while connected, "offline" as the last will
    std::size_t queueBound = 10000;
};

// Offline: not reached now, tried again later. NameInUse: another run publishes under the same
// status topic; nothing is sent and no more attempts are made.
enum class BrokerState { Connecting, Online, Offline, NameInUse };

struct PublisherStatus {
    BrokerState state = BrokerState::Connecting;
    std::string reason;         // why the broker is not (or no longer) reached
    bool loginRefused = false;  // the broker turned the user name or password down
    int retrySeconds = 0;       // wait before the next attempt, while offline
    uint64_t sent = 0;          // acknowledged by the broker
    uint64_t dropped = 0;       // oldest messages let go beyond the queue's bound
    uint64_t waiting = 0;       // queued or sent and not yet acknowledged
    uint64_t refused = 0;       // readings the broker answered with a refusal (not authorised, quota...)
    std::string refusal;        // the broker's reason for the first refusal
    std::string note;           // something said once about the connection (an older protocol in use)
};

// Sends messages to a broker with QoS 1 from a thread of its own, so that the caller (the receive
// path) never waits on the network. Messages wait in a bounded queue while the broker is away;
// beyond the bound the oldest go and are counted, unless the caller waits for room first (a
// source that can pause). A lost connection is tried again after 1 s, the wait doubling up to
// 30 s and starting afresh after a connection that was up. Messages sent but not acknowledged
// when a connection breaks are sent again, ahead of the rest and in their order.
//
// MQTT 5 is spoken so that each acknowledgement carries the broker's verdict: a refused message
// is counted and its reason kept, not taken for sent. A broker that only knows 3.1.1 gets that,
// with a note. A keep-alive of 8 s notices a broker that stalls within about 16 s.
//
// Before the first "online" the status topic's retained value is read: "online" there means
// another run publishes under the same name, and this one stops (NameInUse) rather than
// overwrite it. The session's client id travels with the status as a user property.
//
// The queue, the messages in flight and the status are guarded by one mutex; only the thread
// touches the client library, and only it adds to or takes from the messages in flight.
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

    // Queues one message on the reading topic; a full queue lets its oldest go, unless `keep`
    // (the caller waited for room and wants nothing dropped).
    void publish(QByteArray payload, bool keep = false);
    // Queues a retained message on another topic (not a reading: not counted). Never dropped.
    void publishRetained(const std::string& topic, QByteArray payload);
    // Waits at most `limit` for the queue to have room; true when it has (or the publisher stops).
    bool waitForRoom(std::chrono::milliseconds limit);
    // Ends a wait before the next connection attempt: it is made now.
    void retryNow();

    PublisherStatus status() const;
    // Waits for the first connection attempt to end, at most `limit`; true when it connected.
    bool waitUntilTried(std::chrono::milliseconds limit);
    // Waits until nothing is left to send, giving up once `patience` passes without an
    // acknowledgement or when `keepWaiting` (asked every 100 ms) says no; true when nothing is left.
    bool drain(std::chrono::milliseconds patience, const std::function<bool()>& keepWaiting = {});
    // "online" status and disconnection as the destructor does them, for a caller that ends first.
    void stop();

private:
    struct Message {
        QByteArray payload;
        std::string topic;  // empty: a reading, on the reading topic
        int mid = 0;
    };
    enum class End { Stopped, Lost };

    void run();
    End session(std::string& reason);
    bool nameFree(mosquitto* mosq, std::string& reason);
    bool watchName(mosquitto* mosq, std::string& reason);
    void giveNameUp();
    End pumpSession(mosquitto* mosq, std::string& reason);
    void sayStatus(mosquitto* mosq, const char* status, int* mid);
    void sayOffline(mosquitto* mosq);
    void fillWindow(mosquitto* mosq);
    // The messages in flight from `first` on go back to the head of the queue, in their order;
    // the caller holds the lock.
    void requeueFrom(std::size_t first);
    void acknowledged(int mid, int reasonCode, const std::string& brokerReason);
    void setState(BrokerState state, const std::string& reason, int retrySeconds);
    void wake();

    static void onPublish(mosquitto*, void* self, int mid, int reasonCode,
                          const struct mqtt5__property* props);
    static void onMessage(mosquitto*, void* self, const struct mosquitto_message* m,
                          const struct mqtt5__property* props);
    static void onUnsubscribe(mosquitto*, void* self, int mid);

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
    bool retryNow_ = false;    // the wait before the next attempt is cut short
    int statusMid_ = -1;       // the last status message sent, until acknowledged
    bool loginRefused_ = false;
    bool draining_ = false;  // a drain waits: a lost broker is tried again at the first wait's pace
    // the thread's own
    std::unique_ptr<MqttLink> link_;
    bool nameChecked_ = false;  // the status topic was found free once
    bool watching_ = false;     // the status topic is watched for another run's "online"
    bool ownOnlineHeard_ = false;
    std::optional<std::string> takenOverBy_;  // another run's session said "online" after this one
    int unsubscribeMid_ = -1;                 // the name check ends with this acknowledgement
    std::string foundStatus_;                 // the retained status seen by the name check, and its session
    std::string foundSession_;
    int wakeFd_ = -1;
    std::thread thread_;
};
