#include "MeterSource.h"

#include <QDateTime>
#include <QTimer>
#include <atomic>

#include "BenchModel.h"
#include "BenchUnits.h"
#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
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
            r.value = split.toBase(QByteArray::fromStdString(number).toDouble());
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
