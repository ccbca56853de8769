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
constexpr std::chrono::microseconds kGatherAcks{1000};
// A closing program waits this long for the broker to take its "offline": a window closes in
// half a second even when the broker stopped answering.
constexpr milliseconds kGoodbyeLimit{300};
// The retained status comes right after the subscription; a broker silent for this long is
// taken to have none.
constexpr milliseconds kNameCheckLimit{3000};
using MqttTerms::kFirstRetrySeconds;
using MqttTerms::kLongestRetrySeconds;

const char kOnline[] = "online";
const char kOffline[] = "offline";
const char kSessionProperty[] = "session";

// The session a status message names in its user property; empty in 3.1.1.
std::string sessionOf(const mosquitto_property* props) {
    std::string session;
    char* name = nullptr;
    char* value = nullptr;
    for (const mosquitto_property* prop =
             mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &name, &value, false);
         prop;
         prop = mosquitto_property_read_string_pair(prop, MQTT_PROP_USER_PROPERTY, &name, &value, true)) {
        if (name && value && std::strcmp(name, kSessionProperty) == 0) session = value;
        std::free(name);
        std::free(value);
        name = value = nullptr;
    }
    return session;
}

}  // namespace

MqttPublisher::MqttPublisher(PublisherSettings settings, StateListener listener)
    : settings_(std::move(settings)), listener_(std::move(listener)) {
    LinkSettings link;
    link.url = settings_.url;
    link.password = settings_.password;
    link.caFile = settings_.caFile;
    link.clientId = settings_.clientId;
    link.sendMaximum = kWindow;
    link.willTopic = settings_.statusTopic;
    link.willPayload = kOffline;
    link_ = std::make_unique<MqttLink>(std::move(link), this);
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
    draining_ = true;
    changed_.notify_all();
    struct Done {
        MqttPublisher& p;
        ~Done() { p.draining_ = false; }  // under the lock: it is held whenever the drain returns
    } done_{*this};
    // messages handed to the broker count until it acknowledged them: a connection that breaks
    // before that sends them again
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
        // a name given up is said once: the thread ends with it
        changed = status_.state != state || (!tried_ && state == BrokerState::Offline) ||
                  state == BrokerState::NameInUse;
        status_.state = state;
        status_.retrySeconds = retrySeconds;
        if (state == BrokerState::Online) {
            status_.reason.clear();
            status_.loginRefused = false;
        } else if (!reason.empty()) {
            status_.reason = reason;
            status_.loginRefused = loginRefused_;
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
        // a drain waits for the broker: it is tried at the first wait's pace, not the longest, also
        // when the drain begins during a long wait
        const auto began = Clock::now();
        auto until = [&] { return began + std::chrono::seconds(draining_ ? kFirstRetrySeconds : retry); };
        while (!stopping_ && !retryNow_ && Clock::now() < until()) changed_.wait_until(lock, until());
        retryNow_ = false;
        if (stopping_) return;
        retry = std::min(retry * 2, kLongestRetrySeconds);
    }
}

MqttPublisher::End MqttPublisher::session(std::string& reason) {
    const bool opened = link_->open(
        [](mosquitto* mosq) {
            mosquitto_publish_v5_callback_set(mosq, &MqttPublisher::onPublish);
            mosquitto_message_v5_callback_set(mosq, &MqttPublisher::onMessage);
            mosquitto_unsubscribe_callback_set(mosq, &MqttPublisher::onUnsubscribe);
        },
        [this] {
            std::lock_guard<std::mutex> lock(mutex_);
            return stopping_;
        },
        reason);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loginRefused_ = link_->loginRefused();
        const std::string note = link_->takeNote();
        if (!note.empty()) status_.note = note;
    }
    mosquitto* mosq = link_->client();
    End end = End::Lost;
    if (opened && nameFree(mosq, reason) && watchName(mosq, reason)) end = pumpSession(mosq, reason);
    link_->close();
    // what the broker did not acknowledge goes again, first and in its order
    std::lock_guard<std::mutex> lock(mutex_);
    requeueFrom(0);
    statusMid_ = -1;
    return end;
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
        reason = "the name check failed: " + MqttTerms::errorReason(rc);
        return false;
    }
    const auto deadline = Clock::now() + kNameCheckLimit;
    while (unsubscribeMid_ != mid) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return false;
        }
        if (Clock::now() >= deadline) {
            reason = MqttTerms::noAnswer(kNameCheckLimit);
            return false;
        }
        rc = mosquitto_loop(mosq, 100, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            reason = "the name check failed: " + MqttTerms::errorReason(rc);
            return false;
        }
    }
    if (foundStatus_ == kOnline && foundSession_ != settings_.clientId) {
        reason = "the status topic " + settings_.statusTopic +
                 " says online: another run publishes under this name" +
                 (foundSession_.empty() ? std::string() : " (session " + foundSession_ + ")") +
                 "; give this one another --publish-id";
        giveNameUp();
        return false;
    }
    nameChecked_ = true;
    return true;
}

// Two runs that checked the name at the same moment both found it free. Each watches the status
// topic from then on: the broker passes every "online" on in one order, the last one is what it
// retains, and a run that hears another session's "online" after its own stops, so the one left
// is the one the retained status names. MQTT 5 only: 3.1.1 carries no session to tell them apart.
bool MqttPublisher::watchName(mosquitto* mosq, std::string& reason) {
    ownOnlineHeard_ = false;
    takenOverBy_.reset();
    if (link_->protocol() != 5) return true;
    const int rc = mosquitto_subscribe_v5(mosq, nullptr, settings_.statusTopic.c_str(), 1,
                                          MQTT_SUB_OPT_SEND_RETAIN_NEVER, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        reason = "the name check failed: " + MqttTerms::errorReason(rc);
        return false;
    }
    watching_ = true;
    return true;
}

// A clean goodbye: the last will ("offline") would overwrite the other run's status.
void MqttPublisher::giveNameUp() {
    link_->close();
    std::lock_guard<std::mutex> lock(mutex_);
    status_.state = BrokerState::NameInUse;
    queue_.clear();
    inFlight_.clear();
}

void MqttPublisher::sayStatus(mosquitto* mosq, const char* status, int* mid) {
    mosquitto_property* props = nullptr;
    if (link_->protocol() == 5)
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
        if (takenOverBy_) {
            reason = "another run" +
                     (takenOverBy_->empty() ? std::string() : " (session " + *takenOverBy_ + ")") +
                     " publishes under this name since this one started; this one stopped publishing:"
                     " give it another --publish-id";
            watching_ = false;
            giveNameUp();
            return End::Lost;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            reason = MqttTerms::lossReason(rc);
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

void MqttPublisher::onPublish(mosquitto*, void* self, int mid, int reasonCode,
                              const mosquitto_property* props) {
    std::string brokerReason;
    if (reasonCode >= 0x80) {
        char* text = nullptr;
        if (mosquitto_property_read_string(props, MQTT_PROP_REASON_STRING, &text, false) && text)
            brokerReason = text;
        std::free(text);
    }
    MqttLink::ownerOf<MqttPublisher>(self)->acknowledged(mid, reasonCode, brokerReason);
}

// The name check's retained status, or (while the name is watched) the live ones.
void MqttPublisher::onMessage(mosquitto*, void* self, const mosquitto_message* m,
                              const mosquitto_property* props) {
    auto* p = MqttLink::ownerOf<MqttPublisher>(self);
    const std::string payload(static_cast<const char*>(m->payload),
                              static_cast<std::size_t>(std::max(m->payloadlen, 0)));
    if (!p->watching_) {
        if (!m->retain) return;
        p->foundStatus_ = payload;
        p->foundSession_ = sessionOf(props);
        return;
    }
    if (payload != kOnline) return;
    const std::string session = sessionOf(props);
    if (session == p->settings_.clientId)
        p->ownOnlineHeard_ = true;
    else if (p->ownOnlineHeard_)
        p->takenOverBy_ = session;
}

void MqttPublisher::onUnsubscribe(mosquitto*, void* self, int mid) {
    MqttLink::ownerOf<MqttPublisher>(self)->unsubscribeMid_ = mid;
}
