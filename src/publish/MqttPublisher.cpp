#include "MqttPublisher.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Messages handed to the client library at once. The library walks its whole list of them on
// every acknowledgement, so a large window costs more than it saves (1024 took twice the CPU
// time a message of 256).
constexpr int kWindow = 256;
// The library pings a broker silent for this long and gives it as long again to answer: a broker
// that stalls is left after about 16 s.
constexpr int kKeepAliveSeconds = 8;
constexpr std::chrono::microseconds kGatherAcks{1000};
constexpr milliseconds kConnectLimit{10000};
// A closing program waits this long for the broker to take its "offline": a window closes in
// half a second even when the broker stopped answering.
constexpr milliseconds kGoodbyeLimit{300};
// The retained status comes right after the subscription; a broker silent for this long is
// taken to have none.
constexpr milliseconds kNameCheckLimit{3000};
constexpr int kFirstRetrySeconds = 1;
constexpr int kLongestRetrySeconds = 30;

const char kOnline[] = "online";
const char kOffline[] = "offline";
const char kSessionProperty[] = "session";

std::string connackReason(int code) {
    switch (code) {
        case 1:
            return "the broker does not speak this protocol version";
        case 2:
            return "the broker refused the client name";
        case 3:
            return "the broker is unavailable";
        case 4:
            return "the broker refused the user name or password";
        case 5:
            return "the broker refused the login (wrong user name or password, or a user not let in)";
        default:
            return "the broker refused the connection (code " + std::to_string(code) + ")";
    }
}

// The code of a broker that turned the protocol version down: 1 in a 3.1.1 answer, 0x84 in an MQTT 5 one.
bool versionRefused(int code) {
    return code == 1 || code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
}

std::string connackReason(int code, int protocol) {
    // MQTT 5 codes start at 0x80; below that the 3.1.1 ones
    if (protocol == 5 && code >= 0x80) {
        if (code == MQTT_RC_BAD_USERNAME_OR_PASSWORD || code == MQTT_RC_NOT_AUTHORIZED)
            return "the broker refused the login (" + std::string(mosquitto_reason_string(code)) + ")";
        return "the broker refused the connection: " + std::string(mosquitto_reason_string(code));
    }
    return connackReason(code);
}

bool loginRefused(int code) {
    return code == 4 || code == 5 || code == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
           code == MQTT_RC_NOT_AUTHORIZED;
}

std::string errorReason(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    if (rc == MOSQ_ERR_TLS) return "the TLS handshake failed";
    if (rc == MOSQ_ERR_EAI) return "the host name could not be resolved";
    if (rc == MOSQ_ERR_PROTOCOL)
        return "the other side does not answer as an MQTT broker (is that the broker's port?)";
    return mosquitto_strerror(rc);
}

// A connection that failed on the socket (refused, no route) says so here; the library may report
// it as a TLS or protocol error, or not at all while a TLS handshake waits.
std::string socketError(mosquitto* mosq) {
    const int sock = mosquitto_socket(mosq);
    int error = 0;
    socklen_t len = sizeof error;
    if (sock < 0 || ::getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return {};
    if (error != 0) return std::strerror(error);
    // a connect that failed at once left no error behind, only a socket that is hung up
    pollfd p{sock, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) return "the connection was refused or closed";
    return {};
}

struct SslFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
    void operator()(SSL* s) const { SSL_free(s); }
};

// Why the broker's certificate is not trusted, found by a handshake of our own with the same CA
// and host (the client library only says that the handshake failed); empty when that one works
// or fails before the certificate is looked at.
std::string certificateProblem(const std::string& host, int port, const std::string& caFile) {
    std::unique_ptr<SSL_CTX, SslFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) return {};
    const bool loaded = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx.get())
                                       : SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
    if (!loaded) return {};
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);  // the verdict is read afterwards
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return {};
    int sock = -1;
    for (addrinfo* a = found; a && sock < 0; a = a->ai_next) {
        sock = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (sock >= 0 && ::connect(sock, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(sock);
            sock = -1;
        }
    }
    ::freeaddrinfo(found);
    if (sock < 0) return {};
    timeval limit{2, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(ctx.get()));
    std::string problem;
    if (ssl) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
        if (!X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()))
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        SSL_set_fd(ssl.get(), sock);
        if (SSL_connect(ssl.get()) == 1) {
            const long verdict = SSL_get_verify_result(ssl.get());
            if (verdict == X509_V_ERR_HOSTNAME_MISMATCH || verdict == X509_V_ERR_IP_ADDRESS_MISMATCH)
                problem = "the broker's certificate is for another host name than " + host;
            else if (verdict == X509_V_ERR_CERT_HAS_EXPIRED)
                problem = "the broker's certificate has expired";
            else if (verdict == X509_V_ERR_CERT_NOT_YET_VALID)
                problem = "the broker's certificate is not valid yet";
            else if (verdict == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
                     verdict == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
                     verdict == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
                     verdict == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE)
                problem = caFile.empty()
                              ? "the broker's certificate is signed by a CA the system does not trust"
                              : "the broker's certificate is not signed by the CA given";
            else if (verdict != X509_V_OK)
                problem = std::string("the broker's certificate is not accepted: ") +
                          X509_verify_cert_error_string(verdict);
        }
        ERR_clear_error();
    }
    ::close(sock);
    return problem;
}

void initLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

}  // namespace

MqttPublisher::MqttPublisher(PublisherSettings settings, StateListener listener)
    : settings_(std::move(settings)), listener_(std::move(listener)) {
    initLibrary();
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::thread([this] { run(); });
}

MqttPublisher::~MqttPublisher() {
    stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void MqttPublisher::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    wake();
    if (thread_.joinable()) thread_.join();
}

void MqttPublisher::wake() {
    const uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) < 0) {
        // the counter is already set: the thread wakes anyway
    }
}

void MqttPublisher::publish(QByteArray payload, bool keep) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (status_.state == BrokerState::NameInUse) return;
    if (!keep && queue_.size() >= settings_.queueBound && !queue_.empty()) {
        queue_.pop_front();
        ++status_.dropped;
    }
    if (settings_.queueBound > 0 || keep)
        queue_.push_back(Message{std::move(payload), {}, 0});
    else
        ++status_.dropped;
    const bool wakeNow = wakeWanted_;
    wakeWanted_ = false;
    lock.unlock();
    if (wakeNow) wake();
}

void MqttPublisher::publishRetained(const std::string& topic, QByteArray payload) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(Message{std::move(payload), topic, 0});
        wakeWanted_ = false;
    }
    wake();
}

bool MqttPublisher::waitForRoom(milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] {
        return queue_.size() < settings_.queueBound || stopping_ || status_.state == BrokerState::NameInUse;
    });
}

void MqttPublisher::retryNow() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        retryNow_ = true;
    }
    changed_.notify_all();
}

PublisherStatus MqttPublisher::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    PublisherStatus s = status_;
    s.waiting = queue_.size() + inFlight_.size();
    return s;
}

bool MqttPublisher::waitUntilTried(milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return tried_; });
    return status_.state == BrokerState::Online;
}

bool MqttPublisher::drain(milliseconds patience, const std::function<bool()>& keepWaiting) {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t done = status_.sent + status_.refused;
    auto lastProgress = Clock::now();
    while (!queue_.empty() || !inFlight_.empty()) {
        if (stopping_ || status_.state == BrokerState::NameInUse || Clock::now() - lastProgress >= patience)
            return false;
        if (keepWaiting) {
            lock.unlock();
            const bool goOn = keepWaiting();
            lock.lock();
            if (!goOn) return false;
        }
        changed_.wait_for(lock, milliseconds(100));
        if (status_.sent + status_.refused != done) {
            done = status_.sent + status_.refused;
            lastProgress = Clock::now();
        }
    }
    return true;
}

void MqttPublisher::setState(BrokerState state, const std::string& reason, int retrySeconds) {
    PublisherStatus s;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changed = status_.state != state || (!tried_ && state == BrokerState::Offline);
        status_.state = state;
        status_.retrySeconds = retrySeconds;
        if (state == BrokerState::Online) {
            status_.reason.clear();
            status_.loginRefused = false;
        } else if (!reason.empty()) {
            status_.reason = reason;
            status_.loginRefused = loginRefused(connackCode_);
        }
        if (state != BrokerState::Connecting) tried_ = true;
        s = status_;
        s.waiting = queue_.size() + inFlight_.size();
    }
    changed_.notify_all();
    if (changed && state != BrokerState::Connecting && listener_) listener_(s);
}

void MqttPublisher::run() {
    int retry = kFirstRetrySeconds;
    for (;;) {
        std::string reason;
        const End end = session(reason);
        std::unique_lock<std::mutex> lock(mutex_);
        if (end == End::Stopped || stopping_) return;
        if (status_.state == BrokerState::NameInUse) {
            lock.unlock();
            setState(BrokerState::NameInUse, reason, 0);
            return;
        }
        // a connection that was up starts the waits afresh
        if (status_.state == BrokerState::Online) retry = kFirstRetrySeconds;
        lock.unlock();
        setState(BrokerState::Offline, reason, retry);
        lock.lock();
        changed_.wait_for(lock, std::chrono::seconds(retry), [this] { return stopping_ || retryNow_; });
        retryNow_ = false;
        if (stopping_) return;
        retry = std::min(retry * 2, kLongestRetrySeconds);
    }
}

MqttPublisher::End MqttPublisher::session(std::string& reason) {
    const std::string id = settings_.clientId;
    mosquitto* mosq = mosquitto_new(id.empty() ? nullptr : id.c_str(), true, this);
    if (!mosq) {
        reason = "the MQTT client could not be made";
        return End::Lost;
    }
    const int protocol = protocol_;
    End end = sessionWith(mosq, reason);
    mosquitto_destroy(mosq);
    if (protocol_ != protocol) {
        // the same broker in the older protocol, at once, with a client made for it
        mosq = mosquitto_new(id.empty() ? nullptr : id.c_str(), true, this);
        if (mosq) end = sessionWith(mosq, reason);
        if (mosq) mosquitto_destroy(mosq);
    }
    // what the broker did not acknowledge goes again, first and in its order
    std::lock_guard<std::mutex> lock(mutex_);
    requeueFrom(0);
    statusMid_ = -1;
    return end;
}

MqttPublisher::End MqttPublisher::sessionWith(mosquitto* mosq, std::string& reason) {
    if (connectSession(mosq, reason) && nameFree(mosq, reason)) return pumpSession(mosq, reason);
    return End::Lost;
}

// The CA given, or the system's: a file that cannot be read is said as such, before the library
// turns it into a bare "invalid arguments".
bool MqttPublisher::setUpTls(mosquitto* mosq, std::string& reason) {
    const std::string& ca = settings_.caFile;
    if (!ca.empty() && ::access(ca.c_str(), R_OK) != 0) {
        reason = "the CA file '" + ca + "' cannot be read: " + std::strerror(errno);
        return false;
    }
    const int rc = ca.empty() ? mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                              : mosquitto_tls_set(mosq, ca.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        reason = "the CA file '" + ca + "' cannot be used: " + errorReason(rc);
        return false;
    }
    return true;
}

// Connects and waits for the broker's answer, with the client library's own loop; true once
// the broker took the connection. A broker that turns MQTT 5 down leaves the protocol at 3.1.1.
bool MqttPublisher::connectSession(mosquitto* mosq, std::string& reason) {
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION,
                         protocol_ == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    mosquitto_int_option(mosq, MOSQ_OPT_SEND_MAXIMUM, kWindow);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(mosq, &MqttPublisher::onConnect);
    mosquitto_publish_v5_callback_set(mosq, &MqttPublisher::onPublish);
    mosquitto_message_v5_callback_set(mosq, &MqttPublisher::onMessage);
    mosquitto_unsubscribe_callback_set(mosq, &MqttPublisher::onUnsubscribe);
    const BrokerUrl& url = settings_.url;
    const char* password = settings_.password.empty() ? nullptr : settings_.password.c_str();
    if (!url.user.empty() || password) mosquitto_username_pw_set(mosq, url.user.c_str(), password);
    mosquitto_property* will = nullptr;
    if (protocol_ == 5)
        mosquitto_property_add_string_pair(&will, MQTT_PROP_USER_PROPERTY, kSessionProperty,
                                           settings_.clientId.c_str());
    if (mosquitto_will_set_v5(mosq, settings_.statusTopic.c_str(), sizeof kOffline - 1, kOffline, 1, true,
                              will) != MOSQ_ERR_SUCCESS)
        mosquitto_property_free_all(&will);
    if (url.tls && !setUpTls(mosq, reason)) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connackCode_ = -1;
    }
    int rc = mosquitto_connect_async(mosq, url.host.c_str(), url.port, kKeepAliveSeconds);
    const auto deadline = Clock::now() + kConnectLimit;
    auto refusedBy = [&](int code) {
        reason = connackReason(code, protocol_);
        if (protocol_ == 5 && versionRefused(code)) {
            protocol_ = 4;
            std::lock_guard<std::mutex> lock(mutex_);
            status_.note = "the broker speaks MQTT 3.1.1 only: it cannot say which readings it refuses";
        }
        return false;
    };
    while (rc == MOSQ_ERR_SUCCESS) {
        int code = -1;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return false;
            code = connackCode_;
        }
        if (code == 0) return true;
        if (code > 0) return refusedBy(code);
        reason = socketError(mosq);
        if (!reason.empty()) return false;
        if (Clock::now() >= deadline) {
            reason = "no answer within " + std::to_string(kConnectLimit.count() / 1000) + " s";
            return false;
        }
        rc = mosquitto_loop(mosq, 100, 1);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connackCode_ > 0) return refusedBy(connackCode_);
    }
    reason = socketError(mosq);
    if (reason.empty()) reason = errorReason(rc);
    if (rc == MOSQ_ERR_TLS) {
        const std::string cause = certificateProblem(url.host, url.port, settings_.caFile);
        if (!cause.empty()) reason += " (" + cause + ")";
    }
    return false;
}

// Reads the status topic's retained value once per run, before the first "online": another run
// under the same name says "online" there (with its session, in MQTT 5), and this run stops.
// Subscribing and unsubscribing at once: the broker sends the retained value before it answers
// the unsubscription, so that answer ends the wait.
bool MqttPublisher::nameFree(mosquitto* mosq, std::string& reason) {
    if (nameChecked_) return true;
    foundStatus_.clear();
    foundSession_.clear();
    unsubscribeMid_ = -1;
    int mid = 0;
    int rc = mosquitto_subscribe(mosq, nullptr, settings_.statusTopic.c_str(), 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_unsubscribe(mosq, &mid, settings_.statusTopic.c_str());
    if (rc != MOSQ_ERR_SUCCESS) {
        reason = "the name check failed: " + errorReason(rc);
        return false;
    }
    const auto deadline = Clock::now() + kNameCheckLimit;
    while (unsubscribeMid_ != mid) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return false;
        }
        if (Clock::now() >= deadline) {
            reason = "no answer within " + std::to_string(kNameCheckLimit.count() / 1000) + " s";
            return false;
        }
        rc = mosquitto_loop(mosq, 100, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            reason = "the name check failed: " + errorReason(rc);
            return false;
        }
    }
    if (foundStatus_ == kOnline && foundSession_ != settings_.clientId) {
        reason = "the status topic " + settings_.statusTopic +
                 " says online: another run publishes under this name" +
                 (foundSession_.empty() ? std::string() : " (session " + foundSession_ + ")") +
                 "; give this one another --publish-id";
        // a clean goodbye: the last will ("offline") would overwrite the other run's status
        mosquitto_disconnect(mosq);
        mosquitto_loop(mosq, 0, 1);
        std::lock_guard<std::mutex> lock(mutex_);
        status_.state = BrokerState::NameInUse;
        queue_.clear();
        return false;
    }
    nameChecked_ = true;
    return true;
}

void MqttPublisher::sayStatus(mosquitto* mosq, const char* status, int* mid) {
    mosquitto_property* props = nullptr;
    if (protocol_ == 5)
        mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, kSessionProperty,
                                           settings_.clientId.c_str());
    mosquitto_publish_v5(mosq, mid, settings_.statusTopic.c_str(), static_cast<int>(std::strlen(status)),
                         status, 1, true, props);
    mosquitto_property_free_all(&props);
}

// The connection is up: messages go out as the window allows, acknowledgements come back, and
// the thread sleeps on the socket and the wake-up counter in between.
MqttPublisher::End MqttPublisher::pumpSession(mosquitto* mosq, std::string& reason) {
    setState(BrokerState::Online, {}, 0);
    int mid = 0;
    sayStatus(mosq, kOnline, &mid);
    const int sock = mosquitto_socket(mosq);
    for (;;) {
        fillWindow(mosq);
        int timeout = 1000;
        bool backlog = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
            const bool room = inFlight_.size() < static_cast<std::size_t>(kWindow);
            wakeWanted_ = room && queue_.empty();
            // a message queued since the window was filled is taken at once
            if (room && !queue_.empty()) timeout = 0;
            backlog = queue_.size() >= static_cast<std::size_t>(kWindow);
        }
        pollfd fds[2] = {{sock, static_cast<short>(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0},
                         {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            reason = std::strerror(errno);
            return End::Lost;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            if (::read(wakeFd_, &count, sizeof count) < 0) {
                // nothing to take: another wake-up took it
            }
        }
        // With a backlog (a capture read faster than the broker answers) acknowledgements are let
        // gather for a moment: one wake-up then takes many, where each would cost a wake-up.
        if (backlog && (fds[0].revents & POLLIN)) std::this_thread::sleep_for(kGatherAcks);
        int rc = MOSQ_ERR_SUCCESS;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) rc = mosquitto_loop_read(mosq, 1);
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq)) rc = mosquitto_loop_write(mosq, 1);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq);
        if (rc != MOSQ_ERR_SUCCESS) {
            reason = rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN ? "the broker closed the connection"
                     : rc == MOSQ_ERR_KEEPALIVE                         ? "the broker stopped answering"
                                                                        : errorReason(rc);
            return End::Lost;
        }
    }
    sayOffline(mosq);
    return End::Stopped;
}

// A leaving client says so itself: the last will is only sent for connections that break.
void MqttPublisher::sayOffline(mosquitto* mosq) {
    int mid = 0;
    sayStatus(mosq, kOffline, &mid);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        statusMid_ = mid;
    }
    const auto deadline = Clock::now() + kGoodbyeLimit;
    while (Clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (statusMid_ < 0) break;
        }
        if (mosquitto_loop(mosq, 50, 1) != MOSQ_ERR_SUCCESS) break;
    }
    mosquitto_disconnect(mosq);
    mosquitto_loop(mosq, 0, 1);
}

// Moves what fits into the window from the queue to the messages in flight under one lock, then
// hands them to the library. Only this thread changes the messages in flight (acknowledgements
// come while it reads), so they stay where they are meanwhile; and a message is never in neither
// list, which the drain looks at.
void MqttPublisher::fillWindow(mosquitto* mosq) {
    std::size_t first = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        first = inFlight_.size();
        while (!queue_.empty() && inFlight_.size() < static_cast<std::size_t>(kWindow)) {
            inFlight_.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        if (inFlight_.size() == first) return;
    }
    changed_.notify_all();
    const std::size_t end = inFlight_.size();  // only this thread adds to it
    for (std::size_t i = first; i < end; ++i) {
        Message& m = inFlight_[i];
        const bool reading = m.topic.empty();
        const char* topic = reading ? settings_.readingTopic.c_str() : m.topic.c_str();
        // the library copies the payload; the message stays here until acknowledged
        const int rc =
            mosquitto_publish(mosq, &m.mid, topic, m.payload.size(), m.payload.constData(), 1, !reading);
        if (rc == MOSQ_ERR_SUCCESS) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        // a socket error on the write (a broken pipe, a reset) is the connection going as well
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NOMEM ||
            rc == MOSQ_ERR_ERRNO) {
            // the connection is going (the loop will say why): what was not handed over waits again
            requeueFrom(i);
            return;
        }
        // the library will never take this one (a topic or size it refuses): trying again would spin
        if (reading) ++status_.refused;
        if (status_.refusal.empty())
            status_.refusal = std::string("the client library refused it: ") + mosquitto_strerror(rc);
        inFlight_.erase(inFlight_.begin() + static_cast<std::ptrdiff_t>(i));
        // those after it were not handed over yet: they wait at the head of the queue again
        requeueFrom(i);
        return;
    }
}

void MqttPublisher::requeueFrom(std::size_t first) {
    while (inFlight_.size() > first) {
        queue_.push_front(std::move(inFlight_.back()));
        inFlight_.pop_back();
    }
}

void MqttPublisher::acknowledged(int mid, int reasonCode, const std::string& brokerReason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mid == statusMid_) {
        statusMid_ = -1;
        return;
    }
    const auto it =
        std::find_if(inFlight_.begin(), inFlight_.end(), [mid](const Message& m) { return m.mid == mid; });
    if (it == inFlight_.end()) return;
    const bool reading = it->topic.empty();
    if (reasonCode >= 0x80) {
        // the broker took it and will not pass it on: sending it again would change nothing
        if (reading) ++status_.refused;
        if (status_.refusal.empty()) {
            status_.refusal = mosquitto_reason_string(reasonCode);
            if (!brokerReason.empty()) status_.refusal += ": " + brokerReason;
        }
    } else if (reading) {
        ++status_.sent;
    }
    inFlight_.erase(it);
    if (inFlight_.empty() && queue_.empty()) changed_.notify_all();
}

void MqttPublisher::onConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    auto* p = static_cast<MqttPublisher*>(self);
    std::lock_guard<std::mutex> lock(p->mutex_);
    p->connackCode_ = rc;
}

void MqttPublisher::onPublish(mosquitto*, void* self, int mid, int reasonCode,
                              const mosquitto_property* props) {
    std::string brokerReason;
    if (reasonCode >= 0x80) {
        char* text = nullptr;
        if (mosquitto_property_read_string(props, MQTT_PROP_REASON_STRING, &text, false) && text)
            brokerReason = text;
        std::free(text);
    }
    static_cast<MqttPublisher*>(self)->acknowledged(mid, reasonCode, brokerReason);
}

// Only the name check subscribes: what comes is the status topic's retained value.
void MqttPublisher::onMessage(mosquitto*, void* self, const mosquitto_message* m,
                              const mosquitto_property* props) {
    auto* p = static_cast<MqttPublisher*>(self);
    if (!m->retain) return;
    p->foundStatus_.assign(static_cast<const char*>(m->payload),
                           static_cast<std::size_t>(std::max(m->payloadlen, 0)));
    p->foundSession_.clear();
    char* name = nullptr;
    char* value = nullptr;
    for (const mosquitto_property* prop =
             mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &name, &value, false);
         prop;
         prop = mosquitto_property_read_string_pair(prop, MQTT_PROP_USER_PROPERTY, &name, &value, true)) {
        if (name && value && std::strcmp(name, kSessionProperty) == 0) p->foundSession_ = value;
        std::free(name);
        std::free(value);
        name = value = nullptr;
    }
}

void MqttPublisher::onUnsubscribe(mosquitto*, void* self, int mid) {
    static_cast<MqttPublisher*>(self)->unsubscribeMid_ = mid;
}
