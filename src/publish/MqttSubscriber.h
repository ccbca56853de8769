#pragma once

#include <QByteArray>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BrokerUrl.h"

struct mosquitto;

struct SubscriberSettings {
    BrokerUrl url;
    std::string password;              // empty: none
    std::string caFile;                // mqtts: the CA to trust; empty: the system's
    std::vector<std::string> filters;  // topic filters, taken with QoS 1
};

// Receives the messages of some topic filters from a broker on a thread of the client library.
// A lost connection is tried again after 1 s, the wait doubling up to 30 s; the filters are taken
// again on every connection, and the broker hands the retained messages (the status of each
// publisher) over anew.
class MqttSubscriber {
public:
    // Both are called on the client's thread.
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
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const struct mosquitto_message* m);

    const SubscriberSettings settings_;
    MessageHandler onMessage_;
    StateListener onState_;
    mosquitto* mosq_ = nullptr;
    bool running_ = false;
};

// A reading message as ReadingMessage.h writes it, read back.
struct ReceivedReading {
    uint64_t seq = 0;
    std::string time;             // ISO 8601 with milliseconds and offset
    std::string display;          // the display text
    std::optional<double> value;  // in the shown unit; nothing for an overload
    std::string unit;             // shown unit in real symbols ("mA")
    std::string acdc;
    std::string range;
    bool overload = false;
    std::string model;
};

// Nothing when the payload is not such a message.
std::optional<ReceivedReading> parseReadingJson(const QByteArray& payload);
