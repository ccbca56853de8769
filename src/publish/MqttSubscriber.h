#pragma once

#include <QByteArray>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BrokerUrl.h"
#include "MqttLink.h"

struct SubscriberSettings {
    BrokerUrl url;
    std::string password;              // empty: none
    std::string caFile;                // mqtts: the CA to trust; empty: the system's
    std::vector<std::string> filters;  // topic filters, taken with QoS 1
    // The session's name at the broker; the same on every connection, so that what is published
    // while the connection is down waits for it there.
    std::string clientId;
    // A message longer than this reaches the handler cut to maxPayload + 1 bytes (enough to see
    // that it is too long, without a copy of it all); 0: no limit.
    std::size_t maxPayload = 0;
};

// A client id that stays the same for the same purpose on this computer: the host's name and a
// digest of the broker, the prefix and `purpose` (a recording's path, "window").
std::string stableSubscriberId(const BrokerUrl& url, const std::string& purpose);

// Receives the messages of some topic filters from a broker on a thread of its own, over the
// same connection as the publisher's (MqttLink: protocol, keep-alive, words for faults). The
// session is kept at the broker across lost connections and broker restarts (QoS 1, a session
// that expires an hour after the connection breaks), so readings published meanwhile arrive
// when the connection is back; a message may then come twice, which the caller sorts out. A lost
// connection is tried again after 1 s, the wait doubling up to 30 s and starting afresh after a
// connection that was up. stop() ends the session: a bench that closes wants nothing kept.
class MqttSubscriber {
public:
    // Both are called on the subscriber's thread.
    using MessageHandler = std::function<void(const std::string& topic, const QByteArray& payload)>;
    using StateListener = std::function<void(bool connected, const std::string& reason)>;

    MqttSubscriber(SubscriberSettings settings, MessageHandler onMessage, StateListener onState = {});
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // Starts connecting; false with the reason when the client cannot even be set up (a CA file
    // that cannot be used).
    bool start(std::string* error = nullptr);
    void stop();

private:
    void run();
    bool stopping() const;
    static void onMessage(mosquitto*, void* self, const struct mosquitto_message* m,
                          const struct mqtt5__property* props);

    const SubscriberSettings settings_;
    MessageHandler onMessage_;
    StateListener onState_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::unique_ptr<MqttLink> link_;  // the thread's own
    std::thread thread_;
};
