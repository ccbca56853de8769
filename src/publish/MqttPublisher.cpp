#include "MqttPublisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Messages handed to the client library at once. The library walks its whole list of them on
// every acknowledgement, so a large window costs more than it saves (1024 took twice the CPU
// time a message of 256).
constexpr int kWindow = 256;
constexpr int kKeepAliveSeconds = 30;
constexpr std::chrono::microseconds kGatherAcks{1000};
constexpr milliseconds kConnectLimit{10000};
constexpr milliseconds kGoodbyeLimit{2000};
constexpr int kFirstRetrySeconds = 1;
constexpr int kLongestRetrySeconds = 30;

const char kOnline[] = "online";
const char kOffline[] = "offline";

std::string connackReason(int code) {
    switch (code) {
    case 1: return "the broker does not speak this protocol version";
    case 2: return "the broker refused the client name";
    case 3: return "the broker is unavailable";
    case 4: return "the broker refused the user name or password";
    case 5: return "the broker refused the login (wrong user name or password, or a user not let in)";
    default: return "the broker refused the connection (code " + std::to_string(code) + ")";
    }
}

std::string errorReason(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    if (rc == MOSQ_ERR_TLS) return "the TLS handshake failed (is the broker's certificate signed by the CA given?)";
    if (rc == MOSQ_ERR_EAI) return "the host name could not be resolved";
    if (rc == MOSQ_ERR_PROTOCOL) return "the other side does not answer as an MQTT broker (is that the broker's port?)";
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

void MqttPublisher::publish(QByteArray payload, bool waitForRoom) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (waitForRoom) {
        changed_.wait(lock, [this] {
            return queue_.size() < settings_.queueBound || status_.state != BrokerState::Online || stopping_;
        });
    }
    if (queue_.size() >= settings_.queueBound && !queue_.empty()) {
        queue_.pop_front();
        ++status_.dropped;
    }
    if (settings_.queueBound > 0) queue_.push_back(Message{std::move(payload), 0});
    else ++status_.dropped;
    const bool wakeNow = wakeWanted_;
    wakeWanted_ = false;
    lock.unlock();
    if (wakeNow) wake();
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

bool MqttPublisher::drain(milliseconds patience) {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t sent = status_.sent;
    auto lastProgress = Clock::now();
    while (!queue_.empty() || !inFlight_.empty()) {
        if (stopping_ || Clock::now() - lastProgress >= patience) return false;
        changed_.wait_for(lock, milliseconds(100));
        if (status_.sent != sent) {
            sent = status_.sent;
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
            status_.loginRefused = connackCode_ == 4 || connackCode_ == 5;
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
        if (session(reason) == End::Stopped) return;
        std::unique_lock<std::mutex> lock(mutex_);
        if (stopping_) return;
        // a connection that was up starts the waits afresh
        if (status_.state == BrokerState::Online) retry = kFirstRetrySeconds;
        lock.unlock();
        setState(BrokerState::Offline, reason, retry);
        lock.lock();
        changed_.wait_for(lock, std::chrono::seconds(retry), [this] { return stopping_; });
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
    End end = End::Lost;
    if (connectSession(mosq, reason)) end = pumpSession(mosq, reason);
    mosquitto_destroy(mosq);
    // what the broker did not acknowledge goes again, first and in its order
    std::lock_guard<std::mutex> lock(mutex_);
    while (!inFlight_.empty()) {
        queue_.push_front(std::move(inFlight_.back()));
        inFlight_.pop_back();
    }
    while (queue_.size() > settings_.queueBound) {
        queue_.pop_front();
        ++status_.dropped;
    }
    statusMid_ = -1;
    return end;
}

// Connects and waits for the broker's answer, with the client library's own loop; true once
// the broker took the connection.
bool MqttPublisher::connectSession(mosquitto* mosq, std::string& reason) {
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(mosq, MOSQ_OPT_SEND_MAXIMUM, kWindow);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq, &MqttPublisher::onConnect);
    mosquitto_publish_callback_set(mosq, &MqttPublisher::onPublish);
    const BrokerUrl& url = settings_.url;
    const char* password = settings_.password.empty() ? nullptr : settings_.password.c_str();
    if (!url.user.empty() || password) mosquitto_username_pw_set(mosq, url.user.c_str(), password);
    mosquitto_will_set(mosq, settings_.statusTopic.c_str(), sizeof kOffline - 1, kOffline, 1, true);
    if (url.tls) {
        const int rc = settings_.caFile.empty()
                           ? mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                           : mosquitto_tls_set(mosq, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            reason = "the CA file '" + settings_.caFile + "' cannot be used: " + errorReason(rc);
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connackCode_ = -1;
    }
    int rc = mosquitto_connect_async(mosq, url.host.c_str(), url.port, kKeepAliveSeconds);
    const auto deadline = Clock::now() + kConnectLimit;
    while (rc == MOSQ_ERR_SUCCESS) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return false;
            if (connackCode_ == 0) return true;
            if (connackCode_ > 0) {
                reason = connackReason(connackCode_);
                return false;
            }
        }
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
        if (connackCode_ > 0) {
            reason = connackReason(connackCode_);
            return false;
        }
    }
    reason = socketError(mosq);
    if (reason.empty()) reason = errorReason(rc);
    return false;
}

// The connection is up: messages go out as the window allows, acknowledgements come back, and
// the thread sleeps on the socket and the wake-up counter in between.
MqttPublisher::End MqttPublisher::pumpSession(mosquitto* mosq, std::string& reason) {
    setState(BrokerState::Online, {}, 0);
    int mid = 0;
    mosquitto_publish(mosq, &mid, settings_.statusTopic.c_str(), sizeof kOnline - 1, kOnline, 1, true);
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
    if (mosquitto_publish(mosq, &mid, settings_.statusTopic.c_str(), sizeof kOffline - 1, kOffline, 1, true) ==
        MOSQ_ERR_SUCCESS) {
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
    const char* topic = settings_.readingTopic.c_str();
    const std::size_t end = inFlight_.size();  // only this thread adds to it
    for (std::size_t i = first; i < end; ++i) {
        Message& m = inFlight_[i];
        // the library copies the payload; the message stays here until acknowledged
        if (mosquitto_publish(mosq, &m.mid, topic, m.payload.size(), m.payload.constData(), 1, false) !=
            MOSQ_ERR_SUCCESS) {
            // the connection is going (the loop will say why): what was not handed over waits again
            std::lock_guard<std::mutex> lock(mutex_);
            while (inFlight_.size() > i) {
                queue_.push_front(std::move(inFlight_.back()));
                inFlight_.pop_back();
            }
            return;
        }
    }
}

void MqttPublisher::acknowledged(int mid) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mid == statusMid_) {
        statusMid_ = -1;
        return;
    }
    const auto it = std::find_if(inFlight_.begin(), inFlight_.end(), [mid](const Message& m) { return m.mid == mid; });
    if (it == inFlight_.end()) return;
    inFlight_.erase(it);
    ++status_.sent;
    if (inFlight_.empty() && queue_.empty()) changed_.notify_all();
}

void MqttPublisher::onConnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    std::lock_guard<std::mutex> lock(p->mutex_);
    p->connackCode_ = rc;
}

void MqttPublisher::onPublish(mosquitto*, void* self, int mid) {
    static_cast<MqttPublisher*>(self)->acknowledged(mid);
}
