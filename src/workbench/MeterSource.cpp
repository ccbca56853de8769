#include "MeterSource.h"

#include "BenchModel.h"
#include "MeterLine.h"
#include "ModelProfiles.h"

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
    Impl(const LocalMeterChoice& s, BenchModel& m) : choice(s), model(m), line(sink) {}

    // The line's reading in the bench's terms: the number in the base unit, timed by the line.
    void completed(const MeterReading& reading) {
        BenchReading r;
        r.timeMs = reading.utcUs / 1000;
        if (reading.lcdUnit != lastUnit) {
            lastUnit = reading.lcdUnit;
            shownUnit = QString::fromStdString(reading.unit);
            baseUnit = QString::fromStdString(reading.baseUnit);
        }
        r.unit = baseUnit;
        r.display = QString::fromStdString(reading.display) + ' ' + shownUnit;
        r.acdc = QString::fromStdString(reading.acdc);
        r.range = QString::fromStdString(reading.range);
        r.overload = reading.overload;
        r.value = reading.baseValue;
        if (noted) {
            noted = false;
            model.setNote(channel, {});
        }
        model.addReading(channel, r, model.nowMs());
    }

    LocalMeterChoice choice;
    BenchModel& model;
    int channel = -1;
    ReadingSink sink;
    MeterLine line;
    bool noted = false;  // the channel shows the line's hint
    std::string lastUnit = "\x01";
    QString shownUnit;
    QString baseUnit;
};

LocalMeterSource::LocalMeterSource(const LocalMeterChoice& choice, BenchModel& model, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(choice, model)) {
    d_->channel = model.addMeter(
        choice.name, QString::fromStdString(choice.model + (choice.variant ? "+v" : "") + "@" + choice.path));
    MeterLine::Hooks& hooks = d_->line.hooks();
    hooks.reading = [this](const MeterReading& r) { d_->completed(r); };
    hooks.lost = [this](const LineLoss&) {
        d_->model.setOnline(d_->channel, false);
        emit lost(tr("the device %1 was lost").arg(QString::fromStdString(d_->choice.path)));
    };
    hooks.back = [this](const LineBack&) { d_->model.setOnline(d_->channel, true); };
    // bytes that no frame of the model comes from: the tile says which model they fit
    hooks.hint = [this](const LineWatch::Hint& hint) {
        d_->noted = true;
        d_->model.setNote(d_->channel, QString::fromStdString(hint.text));
    };
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
    return d_->line.readings();
}
uint64_t LocalMeterSource::droppedFrames() const {
    return d_->line.state().DroppedFrames;
}

bool LocalMeterSource::start(QString* error) {
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (d_->channel < 0) return fail(tr("the name '%1' cannot be used").arg(d_->choice.name));
    const auto check = modelCheckByCaption(d_->choice.model);
    if (!check) return fail(tr("unknown model '%1'").arg(QString::fromStdString(d_->choice.model)));
    ControlStates& controls = d_->line.controls();
    for (int i = 0; i < IF7263x; ++i) controls.model[i] = false;
    controls.model[*check] = true;
    controls.model[IF7263x] = d_->choice.variant;
    const ProfileChoice choice = prepareMeterState(controls, d_->line.state());
    d_->line.devices().setDevicePath(pnCOM1, d_->choice.path);
    d_->line.driver().setComPort(pnCOM1);
    d_->line.driver().setComPortSpeed(choice.baud19200 ? br19200 : br2400);
    if (!d_->line.open(d_->choice.path)) {
        return fail(tr("cannot open '%1': %2")
                        .arg(QString::fromStdString(d_->choice.path),
                             QString::fromStdString(d_->line.devices().lastErrorReason())));
    }
    d_->model.setOnline(d_->channel, true);
    return true;
}

void LocalMeterSource::keepTrying() {
    if (d_->channel >= 0 && modelCheckByCaption(d_->choice.model)) d_->line.awaitDevice();
}

void LocalMeterSource::stop() {
    const bool open = d_->line.isOpen();
    d_->line.close();
    if (open) d_->model.setOnline(d_->channel, false);
}
