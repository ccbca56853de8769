#include "BrokerMeterSource.h"

#include <QDateTime>
#include <QHash>
#include <mutex>

#include "BenchModel.h"
#include "BenchUnits.h"
#include "LocalClock.h"
#include "MqttSubscriber.h"

namespace {

int digitsAt(const std::string& text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

}  // namespace

std::optional<qint64> parseIsoTime(const std::string& text) {
    // 2026-12-07T14:31:53.123+01:00 (the fraction and the offset may be missing or "Z")
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    const int fields[] = {digitsAt(text, 0, 4),  digitsAt(text, 5, 2),  digitsAt(text, 8, 2),
                          digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2)};
    for (const int f : fields) {
        if (f < 0) return std::nullopt;
    }
    std::size_t p = 19;
    qint64 ms = 0;
    if (p < text.size() && text[p] == '.') {
        int digits = 0;
        for (++p; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p, ++digits) {
            if (digits < 3) ms = ms * 10 + (text[p] - '0');
        }
        for (; digits < 3; ++digits) ms *= 10;
    }
    qint64 offsetMin = 0;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        const int h = digitsAt(text, p + 1, 2), m = digitsAt(text, p + 4, 2);
        if (h < 0 || m < 0 || text[p + 3] != ':') return std::nullopt;
        offsetMin = (text[p] == '-' ? -1 : 1) * (h * 60 + m);
    } else if (p < text.size() && text[p] != 'Z') {
        return std::nullopt;
    }
    const qint64 days = dayNumber(fields[0], fields[1], fields[2]);
    return ((days * 24 + fields[3]) * 60 + fields[4] - offsetMin) * 60000 + fields[5] * 1000 + ms;
}

struct BrokerMeterSource::Impl {
    SubscribeRequest request;
    BenchModel& model;
    std::unique_ptr<MqttSubscriber> subscriber;
    QHash<QString, int> channels;  // client name -> channel
    bool connected = false;
    QString reason;
    uint64_t messages = 0;
    QString prefix;

    // what the client's thread received, taken over on the model's thread in batches
    std::mutex mutex;
    std::vector<std::pair<std::string, QByteArray>> inbox;
    bool wakeQueued = false;

    Impl(const SubscribeRequest& r, BenchModel& m)
        : request(r), model(m), prefix(QString::fromStdString(r.url.prefix)) {}
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
    return d_->messages;
}

void BrokerMeterSource::start() {
    if (d_->subscriber) return;
    SubscriberSettings settings;
    settings.url = d_->request.url;
    settings.password = d_->request.password;
    settings.caFile = d_->request.caFile;
    const std::string prefix = d_->request.url.prefix;
    settings.filters = {prefix + "/+/status", prefix + "/+/reading"};
    d_->subscriber = std::make_unique<MqttSubscriber>(
        settings,
        [this](const std::string& topic, const QByteArray& payload) {
            bool wake = false;
            {
                std::lock_guard<std::mutex> lock(d_->mutex);
                d_->inbox.emplace_back(topic, payload);
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
                this,
                [this, connected, why] {
                    if (d_->connected == connected && d_->reason == why) return;
                    d_->connected = connected;
                    d_->reason = why;
                    // the meters are heard of no longer; their status comes again with the connection
                    if (!connected) {
                        for (const int id : std::as_const(d_->channels)) d_->model.setOnline(id, false);
                    }
                    emit connectionChanged(connected, why);
                },
                Qt::QueuedConnection);
        });
    std::string error;
    if (!d_->subscriber->start(&error)) {
        d_->reason = QString::fromStdString(error);
        emit connectionChanged(false, d_->reason);
    }
}

void BrokerMeterSource::stop() {
    if (!d_->subscriber) return;
    d_->subscriber->stop();
    d_->subscriber.reset();
    for (const int id : std::as_const(d_->channels)) d_->model.setOnline(id, false);
}

void BrokerMeterSource::takeInbox() {
    std::vector<std::pair<std::string, QByteArray>> batch;
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        batch.swap(d_->inbox);
        d_->wakeQueued = false;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const auto& [topic, payload] : batch) {
        // <prefix>/<client>/status or <prefix>/<client>/reading
        const QString t = QString::fromStdString(topic);
        const qsizetype last = t.lastIndexOf('/');
        const qsizetype first = t.lastIndexOf('/', last - 1);
        if (last < 0 || first < 0) continue;
        const QString client = t.mid(first + 1, last - first - 1);
        const QString kind = t.mid(last + 1);
        int id = d_->channels.value(client, -1);
        if (kind == "status") {
            const bool online = payload == "online";
            // an old "offline" left retained by a meter long gone is not a meter to show
            if (id < 0 && !online) continue;
            if (id < 0) id = discover(client);
            if (id >= 0) d_->model.setOnline(id, online);
        } else if (kind == "reading") {
            const auto reading = parseReadingJson(payload);
            if (!reading) continue;
            ++d_->messages;
            if (id < 0) id = discover(client);
            if (id < 0) continue;
            BenchReading r;
            r.timeMs = parseIsoTime(reading->time).value_or(now);
            const QString shown = QString::fromStdString(reading->unit);
            const BenchUnits::Split split = BenchUnits::splitPrefix(shown);
            r.unit = split.base;
            r.display = QString::fromStdString(reading->display) + ' ' + shown;
            r.acdc = QString::fromStdString(reading->acdc);
            r.range = QString::fromStdString(reading->range);
            r.overload = reading->overload;
            if (reading->value && !reading->overload) r.value = split.toBase(*reading->value);
            d_->model.addReading(id, r, now);
        }
    }
}

int BrokerMeterSource::discover(const QString& client) {
    // a name taken by another channel gets a number, so both stay apart
    QString name = client;
    for (int n = 2; !d_->model.checkNewName(name).isEmpty() && n < 100; ++n)
        name = client + '-' + QString::number(n);
    const QString source =
        QString::fromStdString(d_->request.url.display() + "/" + d_->request.url.prefix + "/") + client;
    const int id = d_->model.addMeter(name, source);
    if (id < 0) return -1;
    d_->channels.insert(client, id);
    emit meterDiscovered(id);
    return id;
}
