#include "MqttSubscriber.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

// FNV-1a: a short, stable digest for a client id (not a secret).
uint32_t digest(const std::string& text) {
    uint32_t h = 2166136261u;
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

}  // namespace

std::string stableSubscriberId(const BrokerUrl& url, const std::string& purpose) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        std::snprintf(host, sizeof host, "host");
    std::string name = host;
    name = name.substr(0, name.find('.'));
    char hex[12];
    std::snprintf(hex, sizeof hex, "%08x", digest(url.display() + "/" + url.prefix + "\n" + purpose));
    return "dmmview-" + name + "-" + hex;
}

MqttSubscriber::MqttSubscriber(SubscriberSettings settings, MessageHandler onMessage, StateListener onState)
    : settings_(std::move(settings)), onMessage_(std::move(onMessage)), onState_(std::move(onState)) {}

MqttSubscriber::~MqttSubscriber() {
    stop();
}

bool MqttSubscriber::start(std::string* error) {
    if (thread_.joinable()) return true;
    if (settings_.url.tls && !settings_.caFile.empty()) {
        const std::string problem = caFileProblem(settings_.caFile);
        if (!problem.empty()) {
            if (error) *error = problem;
            return false;
        }
    }
    LinkSettings link;
    link.url = settings_.url;
    link.password = settings_.password;
    link.caFile = settings_.caFile;
    link.clientId = settings_.clientId;
    link.keepSession = !settings_.clientId.empty();
    link_ = std::make_unique<MqttLink>(std::move(link), this);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void MqttSubscriber::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool MqttSubscriber::stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void MqttSubscriber::run() {
    int retry = MqttTerms::kFirstRetrySeconds;
    for (;;) {
        std::string reason;
        const bool opened = link_->open(
            [](mosquitto* mosq) { mosquitto_message_v5_callback_set(mosq, &MqttSubscriber::onMessage); },
            [this] { return stopping(); }, reason);
        if (opened) {
            mosquitto* mosq = link_->client();
            for (const std::string& filter : settings_.filters)
                mosquitto_subscribe(mosq, nullptr, filter.c_str(), 1);
            retry = MqttTerms::kFirstRetrySeconds;
            if (onState_) onState_(true, link_->takeNote());
            while (!stopping()) {
                const int rc = mosquitto_loop(mosq, 100, 1);
                if (rc != MOSQ_ERR_SUCCESS) {
                    reason = MqttTerms::lossReason(rc);
                    break;
                }
            }
        }
        if (stopping()) {
            link_->close(true);
            return;
        }
        link_->close();
        if (onState_) onState_(false, reason);
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(retry), [this] { return stopping_; });
        if (stopping_) return;
        retry = std::min(retry * 2, MqttTerms::kLongestRetrySeconds);
    }
}

void MqttSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* m,
                               const mosquitto_property*) {
    auto* s = MqttLink::ownerOf<MqttSubscriber>(self);
    if (!m || !m->topic) return;
    std::size_t size = static_cast<std::size_t>(std::max(m->payloadlen, 0));
    if (s->settings_.maxPayload > 0) size = std::min(size, s->settings_.maxPayload + 1);
    s->onMessage_(m->topic, QByteArray(static_cast<const char*>(m->payload), static_cast<qsizetype>(size)));
}
