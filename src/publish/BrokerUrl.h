#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Where readings go: mqtt://[USER@]HOST[:PORT]/PREFIX, or mqtts:// for TLS.
struct BrokerUrl {
    bool tls = false;
    std::string user;  // empty: no login
    std::string host;
    int port = 1883;
    std::string prefix = "dmmview";  // topics lie under it

    // The broker as messages name it, without the prefix: "mqtts://lab@broker:8883".
    std::string display() const;
};

// What the command line asks of publishing.
struct PublishRequest {
    BrokerUrl url;
    std::string caFile;      // --publish-ca
    std::string clientName;  // --publish-id; empty: model, device and host
    int everySeconds = 0;    // --publish-every; 0: every reading
    // --publish-discovery[=PREFIX]: the meter's sensor configuration, retained under PREFIX, for
    // tools that find sensors by it; empty: none
    std::string discoveryPrefix;
};

// The longest topic MQTT carries, in bytes.
constexpr std::size_t kMaxTopicBytes = 65535;

// Why `topic` cannot be (the start of) a topic name a client publishes to, said to follow
// "the topic ...": not UTF-8, control characters, a wildcard, a leading $ (the broker's own
// topics), or too long to leave `room` bytes for what follows. Empty when it can.
std::string topicNameError(const std::string& topic, std::size_t room = 0);

// Reads a --publish URL; on failure returns nothing and says why in `error`.
std::optional<BrokerUrl> parseBrokerUrl(const std::string& text, std::string& error);

// A name as one topic level: the characters MQTT gives a meaning there become '_'.
std::string topicLevel(const std::string& name);
