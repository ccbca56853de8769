#include "MqttSubscriber.h"

#include <mosquitto.h>
#include <rapidjson/document.h>

#include <cstring>

namespace {

constexpr int kKeepAliveSeconds = 30;

std::string connackReason(int rc) {
    if (rc == 4 || rc == 5) return "the broker refused the login (user name or password)";
    return mosquitto_connack_string(rc);
}

}  // namespace

MqttSubscriber::MqttSubscriber(SubscriberSettings settings, MessageHandler onMessage, StateListener onState)
    : settings_(std::move(settings)), onMessage_(std::move(onMessage)), onState_(std::move(onState)) {
    static const int once = mosquitto_lib_init();
    (void)once;
}

MqttSubscriber::~MqttSubscriber() {
    stop();
}

bool MqttSubscriber::start(std::string* error) {
    if (running_) return true;
    mosq_ = mosquitto_new(nullptr, true, this);
    if (!mosq_) {
        if (error) *error = "the MQTT client could not be made";
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &MqttSubscriber::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttSubscriber::onDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttSubscriber::onMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    const BrokerUrl& url = settings_.url;
    const char* password = settings_.password.empty() ? nullptr : settings_.password.c_str();
    if (!url.user.empty() || password) mosquitto_username_pw_set(mosq_, url.user.c_str(), password);
    if (url.tls) {
        const int rc =
            settings_.caFile.empty()
                ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                : mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            if (error)
                *error = "the CA file '" + settings_.caFile + "' cannot be used: " + mosquitto_strerror(rc);
            mosquitto_destroy(mosq_);
            mosq_ = nullptr;
            return false;
        }
    }
    // a broker that is not there yet is tried again by the loop, as a lost one is
    const int rc = mosquitto_connect_async(mosq_, url.host.c_str(), url.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS && onState_)
        onState_(false, rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    mosquitto_loop_start(mosq_);
    running_ = true;
    return true;
}

void MqttSubscriber::stop() {
    if (!mosq_) return;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    running_ = false;
}

void MqttSubscriber::onConnect(mosquitto* mosq, void* self, int rc) {
    auto* s = static_cast<MqttSubscriber*>(self);
    if (rc != 0) {
        if (s->onState_) s->onState_(false, connackReason(rc));
        return;
    }
    for (const std::string& filter : s->settings_.filters)
        mosquitto_subscribe(mosq, nullptr, filter.c_str(), 1);
    if (s->onState_) s->onState_(true, {});
}

void MqttSubscriber::onDisconnect(mosquitto*, void* self, int rc) {
    auto* s = static_cast<MqttSubscriber*>(self);
    if (s->onState_) s->onState_(false, rc == 0 ? "disconnected" : "the connection to the broker was lost");
}

void MqttSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* s = static_cast<MqttSubscriber*>(self);
    if (!m || !m->topic) return;
    s->onMessage_(m->topic, QByteArray(static_cast<const char*>(m->payload), m->payloadlen));
}

std::optional<ReceivedReading> parseReadingJson(const QByteArray& payload) {
    rapidjson::Document doc;
    doc.Parse(payload.constData(), static_cast<size_t>(payload.size()));
    if (doc.HasParseError() || !doc.IsObject()) return std::nullopt;
    ReceivedReading r;
    auto text = [&doc](const char* key, std::string& out) {
        const auto it = doc.FindMember(key);
        if (it != doc.MemberEnd() && it->value.IsString())
            out.assign(it->value.GetString(), it->value.GetStringLength());
    };
    const auto seq = doc.FindMember("seq");
    if (seq != doc.MemberEnd() && seq->value.IsUint64()) r.seq = seq->value.GetUint64();
    text("time", r.time);
    text("display", r.display);
    text("unit", r.unit);
    text("acdc", r.acdc);
    text("range", r.range);
    text("model", r.model);
    const auto value = doc.FindMember("value");
    if (value != doc.MemberEnd() && value->value.IsNumber()) r.value = value->value.GetDouble();
    const auto overload = doc.FindMember("overload");
    if (overload != doc.MemberEnd() && overload->value.IsBool()) r.overload = overload->value.GetBool();
    // a message without a time or without either a number or an overload is not a reading
    if (r.time.empty() || (!r.value && !r.overload)) return std::nullopt;
    return r;
}
