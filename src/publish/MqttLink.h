#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "BrokerUrl.h"

struct mosquitto;

// The connection to a broker that the publisher and the subscriber share: the same protocol
// (MQTT 5, and 3.1.1 with a note for a broker that refuses it), the same keep-alive, the same
// address-by-address connection, the same diagnosis of a TLS failure and the same words for the
// same faults.
namespace MqttTerms {

// The client library pings a broker silent for this long and gives it as long again to answer:
// a broker that stalls is left after about 16 s.
constexpr int kKeepAliveSeconds = 8;
// From the first connection attempt to the broker's answer: the keep-alive, after which the
// client library gives up on a broker that took the connection and said nothing.
constexpr std::chrono::milliseconds kConnectLimit{kKeepAliveSeconds * 1000};
// A lost connection is tried again after 1 s, the wait doubling up to 30 s.
constexpr int kFirstRetrySeconds = 1;
constexpr int kLongestRetrySeconds = 30;
// A subscriber's session outlives a broker restart or a network outage by this much; the broker
// keeps what is published for it meanwhile.
constexpr uint32_t kSessionExpirySeconds = 3600;

// "no answer from the broker within 10 s"
std::string noAnswer(std::chrono::milliseconds limit);
// The words for an error code of the client library.
std::string errorReason(int rc);
// Why an established connection ended, from the client library's code.
std::string lossReason(int rc);

}  // namespace MqttTerms

// Why the CA file cannot be used, said to stand alone ("the CA file 'x' cannot be read: No such
// file or directory", "... holds no certificate"); empty when it can.
std::string caFileProblem(const std::string& path);

struct LinkSettings {
    BrokerUrl url;
    std::string password;  // empty: none
    std::string caFile;    // mqtts: the CA to trust; empty: the system's
    std::string clientId;  // empty: the broker's or the library's choice
    // Clean start false and a session that expires kSessionExpirySeconds after the connection
    // breaks, so that messages for it wait at the broker; needs a client id.
    bool keepSession = false;
    int sendMaximum = 0;      // messages in flight at once; 0: the library's default
    std::string willTopic;    // empty: no last will
    std::string willPayload;  // retained, with the session as a user property in MQTT 5
};

// One client of the library at a time, made anew for each connection. Not thread-safe: the
// thread that opens it is the only one that touches it, apart from `owner`, which the library's
// callbacks reach through ownerOf().
class MqttLink {
public:
    // The owner's callbacks are set on each new client by `prepare`, before it connects: messages
    // that a kept session holds arrive right behind the broker's answer.
    using Prepare = std::function<void(mosquitto*)>;

    MqttLink(LinkSettings settings, void* owner);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Makes a client and connects it: each address of the host in turn until one takes the
    // connection (a TLS connection by the host's name, so the certificate is checked against
    // it), waiting at most kConnectLimit for the broker's answer and asking `stopping` every
    // 100 ms. A broker that refuses MQTT 5 is asked again at once in 3.1.1, and every later
    // connection speaks that. False with the reason otherwise.
    bool open(const Prepare& prepare, const std::function<bool()>& stopping, std::string& reason);
    // Disconnects (a clean goodbye: no last will) and lets the client go. `endSession` ends a kept
    // session too, for an owner that leaves for good.
    void close(bool endSession = false);

    mosquitto* client() const { return mosq_; }
    const LinkSettings& settings() const { return settings_; }
    int protocol() const { return protocol_; }  // 5 or 4 (3.1.1)
    // The broker refused the last attempt's login.
    bool loginRefused() const { return loginRefused_; }
    // Whether the broker still held this client's session.
    bool sessionPresent() const;
    // Something to say once about the connection (an older protocol in use); empty after.
    std::string takeNote();

    template <typename Owner>
    static Owner* ownerOf(void* userdata) {
        return static_cast<Owner*>(static_cast<MqttLink*>(userdata)->owner_);
    }

private:
    bool attempt(const Prepare& prepare, const std::function<bool()>& stopping, std::string& reason,
                 bool& retryOlder);
    bool connectTo(const std::string& target, const std::function<bool()>& stopping,
                   std::chrono::steady_clock::time_point deadline, std::string& reason, bool& retryOlder);
    static void onConnect(mosquitto*, void* self, int rc, int flags, const struct mqtt5__property* props);

    const LinkSettings settings_;
    void* const owner_;
    mosquitto* mosq_ = nullptr;
    int protocol_ = 5;
    bool loginRefused_ = false;
    std::string note_;
    // set by the library's callback, on the thread that runs the library's loop
    mutable std::mutex mutex_;
    int connackCode_ = -1;
    bool sessionPresent_ = false;
};
