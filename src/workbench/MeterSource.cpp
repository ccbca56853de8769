#include "MeterSource.h"

#include <QDateTime>
#include <QHash>
#include <QTimer>
#include <atomic>
#include <mutex>

#include "BenchModel.h"
#include "BenchUnits.h"
#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "LocalClock.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
#include "MqttSubscriber.h"
#include "PosixSerialPort.h"
#include "QtPollTimer.h"
#include "TCommPortDriver.h"
#include "UnitSymbols.h"

LocalMeterChoice parseMeterChoice(const std::string& text, std::string& error) {
    LocalMeterChoice choice;
    const auto eq = text.find('=');
    const auto at = text.find('@', eq == std::string::npos ? 0 : eq);
    if (eq == std::string::npos || at == std::string::npos) {
        error = "--meter takes NAME=MODEL@PATH, for example U=KR31G@/dev/ttyUSB0";
        return choice;
    }
    choice.name = QString::fromStdString(text.substr(0, eq));
    std::string model = text.substr(eq + 1, at - eq - 1);
    choice.path = text.substr(at + 1);
    if (model.size() > 2 && model.compare(model.size() - 2, 2, "+v") == 0) {
        choice.variant = true;
        model.resize(model.size() - 2);
    }
    choice.model = model;
    if (choice.name.isEmpty())
        error = "--meter " + text + ": the meter needs a name before '='";
    else if (choice.path.empty())
        error = "--meter " + text + ": the device path after '@' is missing";
    else if (!modelCheckByCaption(model))
        error = "--meter " + text + ": unknown model '" + model + "' (one of " + modelCaptionList() + ")";
    return choice;
}

// --- a meter on a serial line of this computer ---

struct LocalMeterSource::Impl {
    explicit Impl(const LocalMeterChoice& s, BenchModel& m)
        : choice(s),
          model(m),
          engine(state, panel, controls, sink),
          segment(texts, [this](const std::string& f) { completed(engine.LcdDisplay31B(f)); }),
          digit(texts, [this](const std::string& f) { completed(engine.LcdDisplay47B(f)); }),
          timer([this](unsigned message) { driver.TimerWndProc(message); }),
          driver(port, timer) {}

    // The reading just completed, timed by where its last byte stood in the chunk received: bytes
    // after it in the chunk came later, one byte time each.
    void completed(bool whole) {
        if (!whole) return;
        ++readings;
        BenchReading r;
        r.timeMs = chunkMs - qint64(double(bytesLeft) * byteMs);
        if (state.UnitText != lastUnit) {
            lastUnit = state.UnitText;
            shownUnit = QString::fromStdString(UnitSymbols::realUnitText(state.UnitText));
            split = BenchUnits::splitPrefix(shownUnit);
        }
        r.unit = split.base;
        r.display = QString::fromStdString(state.ValueText) + ' ' + shownUnit;
        r.acdc = QString::fromStdString(state.AcDcText);
        r.range = QString::fromStdString(state.AutoText);
        const std::string number = UnitSymbols::plainNumber(state.ValueText);
        if (!number.empty())
            r.value = split.toBase(std::stod(number));
        else
            r.overload = true;
        model.addReading(channel, r, chunkMs);
    }

    void received(const void* data, int32_t size) {
        chunkMs = QDateTime::currentMSecsSinceEpoch();
        const auto* bytes = static_cast<const char*>(data);
        // a byte at a time, so each reading knows how many bytes of the chunk came after it
        for (int32_t i = 0; i < size; ++i) {
            bytesLeft = size - 1 - i;
            if (state.family == FrameFamily::Segment)
                segment.H31BRData(bytes + i, 1);
            else
                digit.H47BRData(bytes + i, 1);
        }
    }

    LocalMeterChoice choice;
    BenchModel& model;
    int channel = -1;

    ControlStates controls;
    MeterState state;
    LcdPanelModel panel;
    ReadingSink sink;
    MeterEngine engine;
    FrameTexts texts;
    SegmentFrameAssembler segment;
    DigitFrameAssembler digit;
    PosixSerialPort port;
    QtPollTimer timer;
    TCommPortDriver driver;

    QTimer reopen;  // a lost device is tried again every two seconds
    uint64_t readings = 0;
    qint64 chunkMs = 0;
    int32_t bytesLeft = 0;
    double byteMs = 0;
    std::string lastUnit = "\x01";
    QString shownUnit;
    BenchUnits::Split split;
};

LocalMeterSource::LocalMeterSource(const LocalMeterChoice& choice, BenchModel& model, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(choice, model)) {
    d_->channel = model.addMeter(
        choice.name, QString::fromStdString(choice.model + (choice.variant ? "+v" : "") + "@" + choice.path));
    d_->driver.setOnReceiveData(
        [this](TCommPortDriver*, const void* data, int32_t size) { d_->received(data, size); });
    d_->driver.setOnPortLost([this](TCommPortDriver* driver) {
        driver->Disconnect();
        d_->model.setOnline(d_->channel, false);
        if (posixserial::returnsUnderItsName(d_->choice.path)) d_->reopen.start();
        emit lost(tr("the device %1 was lost").arg(QString::fromStdString(d_->choice.path)));
    });
    d_->reopen.setInterval(2000);
    connect(&d_->reopen, &QTimer::timeout, this, [this] {
        if (!d_->driver.Connect()) return;
        d_->reopen.stop();
        d_->model.setOnline(d_->channel, true);
    });
}

LocalMeterSource::~LocalMeterSource() {
    stop();
}

int LocalMeterSource::channelId() const {
    return d_->channel;
}
const LocalMeterChoice& LocalMeterSource::choice() const {
    return d_->choice;
}
uint64_t LocalMeterSource::readings() const {
    return d_->readings;
}
uint64_t LocalMeterSource::droppedFrames() const {
    return d_->state.DroppedFrames;
}

bool LocalMeterSource::start(QString* error) {
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (d_->channel < 0) return fail(tr("the name '%1' cannot be used").arg(d_->choice.name));
    const auto check = modelCheckByCaption(d_->choice.model);
    if (!check) return fail(tr("unknown model '%1'").arg(QString::fromStdString(d_->choice.model)));
    for (int i = 0; i < IF7263x; ++i) d_->controls.model[i] = false;
    d_->controls.model[*check] = true;
    d_->controls.model[IF7263x] = d_->choice.variant;
    const ProfileChoice choice = prepareMeterState(d_->controls, d_->state);
    // ten bits a byte on the line: start, eight data, stop
    d_->byteMs = 10000.0 / (choice.baud19200 ? 19200 : 2400);
    d_->port.setDevicePath(pnCOM1, d_->choice.path);
    d_->driver.setComPort(pnCOM1);
    d_->driver.setComPortSpeed(choice.baud19200 ? br19200 : br2400);
    if (!d_->driver.Connect()) {
        return fail(tr("cannot open '%1': %2")
                        .arg(QString::fromStdString(d_->choice.path),
                             QString::fromStdString(d_->port.lastErrorReason())));
    }
    d_->model.setOnline(d_->channel, true);
    return true;
}

void LocalMeterSource::keepTrying() {
    if (d_->channel >= 0 && posixserial::returnsUnderItsName(d_->choice.path) &&
        modelCheckByCaption(d_->choice.model) && !d_->driver.Connected())
        d_->reopen.start();
}

void LocalMeterSource::stop() {
    d_->reopen.stop();
    if (!d_->driver.Connected()) return;
    d_->driver.Disconnect();
    d_->model.setOnline(d_->channel, false);
}

// --- meters that publish to a broker ---

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
