#pragma once

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
    std::string clientName;  // --publish-id; empty: model and device
    int everySeconds = 0;    // --publish-every; 0: every reading
};

// Reads a --publish URL; on failure returns nothing and says why in `error`.
std::optional<BrokerUrl> parseBrokerUrl(const std::string& text, std::string& error);

// A name as one topic level: the characters MQTT gives a meaning there become '_'.
std::string topicLevel(const std::string& name);
