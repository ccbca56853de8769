#include "BrokerMeterSource.h"

#include <QDateTime>
#include <QHash>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "BenchModel.h"
#include "BrokerIntake.h"
#include "MqttSubscriber.h"
#include "ReadingMessage.h"

namespace {

// Messages waiting for the model's thread; beyond this a bench that has fallen behind loses the
// newest and says so, rather than its memory.
constexpr std::size_t kInboxBound = 100000;

}  // namespace

struct BrokerMeterSource::Impl {
    SubscribeRequest request;
    BenchModel& model;
    BrokerIntake intake;
    std::unique_ptr<MqttSubscriber> subscriber;
    std::unordered_map<std::string, int> channels;  // client name -> channel
    QHash<int, QString> offlineWhy;                 // channel -> why it is offline
    bool connected = false;
    QString reason;
    bool beyondSaid = false;
    bool behindSaid = false;

    // what the client's thread received, taken over on the model's thread in batches
    std::mutex mutex;
    std::vector<std::pair<std::string, QByteArray>> inbox;
    uint64_t lostBehind = 0;
    bool wakeQueued = false;

    Impl(const SubscribeRequest& r, BenchModel& m) : request(r), model(m), intake(r.url.prefix) {}
};

BrokerMeterSource::BrokerMeterSource(const SubscribeRequest& request, BenchModel& model, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(request, model)) {}

BrokerMeterSource::~BrokerMeterSource() {
    stop();
}

bool BrokerMeterSource::connected() const {
    return d_->connected;
}
QString BrokerMeterSource::reason() const {
    return d_->reason;
}
uint64_t BrokerMeterSource::messages() const {
    return d_->intake.counts().readings;
}
const BrokerIntake& BrokerMeterSource::intake() const {
    return d_->intake;
}
QString BrokerMeterSource::offlineReason(int channelId) const {
    return d_->model.isOnline(channelId) ? QString() : d_->offlineWhy.value(channelId);
}

void BrokerMeterSource::start() {
    if (d_->subscriber) return;
    SubscriberSettings settings;
    settings.url = d_->request.url;
    settings.password = d_->request.password;
    settings.caFile = d_->request.caFile;
    settings.clientId = d_->request.clientId.empty()
                            ? stableSubscriberId(d_->request.url, d_->request.purpose)
                            : d_->request.clientId;
    settings.maxPayload = kMaxReadingPayload;
    const std::string prefix = d_->request.url.prefix;
    settings.filters = {prefix + "/+/status", prefix + "/+/reading"};
    d_->subscriber = std::make_unique<MqttSubscriber>(
        settings,
        [this](const std::string& topic, const QByteArray& payload) {
            bool wake = false;
            {
                std::lock_guard<std::mutex> lock(d_->mutex);
                if (d_->inbox.size() >= kInboxBound) {
                    ++d_->lostBehind;
                } else {
                    d_->inbox.emplace_back(topic, payload);
                }
                wake = !d_->wakeQueued;
                d_->wakeQueued = true;
            }
            if (wake)
                QMetaObject::invokeMethod(
                    this, [this] { takeInbox(); }, Qt::QueuedConnection);
        },
        [this](bool connected, const std::string& reason) {
            const QString why = QString::fromStdString(reason);
            QMetaObject::invokeMethod(
                this, [this, connected, why] { brokerState(connected, why); }, Qt::QueuedConnection);
        });
    std::string error;
    if (!d_->subscriber->start(&error)) {
        d_->reason = QString::fromStdString(error);
        emit connectionChanged(false, d_->reason);
    }
}

void BrokerMeterSource::brokerState(bool connected, const QString& why) {
    if (d_->connected == connected && d_->reason == why) return;
    d_->connected = connected;
    d_->reason = why;
    // the meters are heard of no longer; their status comes again with the connection
    if (!connected) {
        for (const auto& [client, id] : d_->channels) {
            if (d_->model.isOnline(id)) d_->offlineWhy[id] = tr("broker lost: %1").arg(why);
            d_->model.setOnline(id, false);
        }
    }
    emit connectionChanged(connected, why);
}

void BrokerMeterSource::stop() {
    if (!d_->subscriber) return;
    d_->subscriber->stop();
    d_->subscriber.reset();
    for (const auto& [client, id] : d_->channels) d_->model.setOnline(id, false);
}

void BrokerMeterSource::takeInbox() {
    std::vector<std::pair<std::string, QByteArray>> batch;
    uint64_t lost = 0;
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        batch.swap(d_->inbox);
        lost = d_->lostBehind;
        d_->wakeQueued = false;
    }
    if (lost > 0 && !d_->behindSaid) {
        d_->behindSaid = true;
        emit notice(tr("the bench fell behind the broker: messages were lost"));
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const auto& [topic, payload] : batch) {
        const BrokerIntake::Outcome o = d_->intake.take(topic, payload, now);
        if (o.kind == BrokerIntake::Outcome::Refused && d_->intake.counts().beyondMeters > 0 &&
            !d_->beyondSaid) {
            d_->beyondSaid = true;
            emit notice(tr("more than %1 meters publish under %2: the others are not shown")
                            .arg(BrokerIntake::kMaxMeters)
                            .arg(QString::fromStdString(d_->request.url.prefix)));
        }
        if (o.kind != BrokerIntake::Outcome::Status && o.kind != BrokerIntake::Outcome::Reading) continue;
        const auto known = d_->channels.find(o.client);
        const int id = known != d_->channels.end() ? known->second : discover(o.shown, o.client);
        if (id < 0) continue;
        if (o.kind == BrokerIntake::Outcome::Status) {
            if (o.flapping)
                emit notice(tr("%1: its status changes more than %2 times a minute")
                                .arg(o.shown)
                                .arg(BrokerIntake::kFlapChanges));
            if (!o.online) d_->offlineWhy[id] = tr("status offline");
            d_->model.setOnline(id, o.online);
            continue;
        }
        const MeterReading& reading = o.reading;
        BenchReading r;
        r.timeMs = reading.utcUs / 1000;
        r.unit = QString::fromStdString(reading.baseUnit);
        r.display = QString::fromStdString(reading.display) + ' ' + QString::fromStdString(reading.unit);
        r.acdc = QString::fromStdString(reading.acdc);
        r.range = QString::fromStdString(reading.range);
        r.overload = reading.overload;
        if (reading.hasNumber()) r.value = reading.baseValue;
        d_->model.addReading(id, r, d_->model.nowMs());
    }
}

int BrokerMeterSource::discover(const QString& shown, const std::string& client) {
    // a name taken by another channel gets a number, so both stay apart
    QString name = shown;
    for (int n = 2; !d_->model.checkNewName(name).isEmpty() && n < 1000; ++n)
        name = shown + '-' + QString::number(n);
    const QString source =
        QString::fromStdString(d_->request.url.display() + "/" + d_->request.url.prefix + "/") + shown;
    const int id = d_->model.addMeter(name, source);
    if (id < 0) return -1;
    d_->channels.emplace(client, id);
    emit meterDiscovered(id);
    return id;
}
