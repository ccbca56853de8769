#include "BenchServing.h"

#include <cmath>

#include "BenchModel.h"
#include "ServeStart.h"
#include "UnitPrefix.h"

MeterReading benchMeterReading(const BenchReading& r, const std::string& model) {
    MeterReading m;
    m.utcUs = r.timeMs * 1000;
    const qsizetype space = r.display.indexOf(' ');
    m.display = r.display.left(space).toStdString();
    m.unit = space < 0 ? std::string() : r.display.mid(space + 1).toStdString();
    m.lcdUnit = m.unit;
    m.baseUnit = r.unit.toStdString();
    m.baseValue = r.value;
    // the number in the displayed unit from the one in the base unit, never from the text
    const UnitPrefix::Split split = UnitPrefix::split(m.unit);
    m.value = r.hasValue() ? r.value * std::pow(10.0, -split.exponent) : MeterReading::kNoNumber;
    m.counts = MeterReading::kNoNumber;
    m.acdc = r.acdc.toStdString();
    m.range = r.range.toStdString();
    m.overload = r.overload;
    m.model = model;
    return m;
}

BenchServing::BenchServing(BenchModel& model) : model_(model) {}

BenchServing::~BenchServing() {
    // the server stops before the channels it reads go
    server_.reset();
}

std::unique_ptr<BenchServing> BenchServing::start(BenchModel& model, const ServeRequest& request,
                                                  std::string& error) {
    std::unique_ptr<BenchServing> s(new BenchServing(model));
    for (const int id : model.channelIds()) s->add(id);
    s->server_ = startServing(request, s->channels_, error);
    if (!s->server_) return nullptr;
    BenchServing* self = s.get();
    connect(&model, &BenchModel::channelAdded, self, [self](int id) { self->add(id); });
    connect(&model, &BenchModel::readingAdded, self,
            [self](int id, const BenchReading& r) { self->reading(id, r); });
    connect(&model, &BenchModel::onlineChanged, self, [self](int id, bool online) {
        if (const auto it = self->served_.find(id); it != self->served_.end())
            self->channels_.online(it->second.id, online);
    });
    connect(&model, &BenchModel::channelRemoved, self, [self](int id) {
        if (const auto it = self->served_.find(id); it != self->served_.end())
            self->channels_.online(it->second.id, false);
    });
    return s;
}

void BenchServing::add(int id) {
    const ChannelInfo* c = model_.channel(id);
    if (!c || served_.count(id)) return;
    const bool math = c->kind == ChannelKind::Math;
    // a meter's source is MODEL@DEVICE or the broker's address
    const QString source = c->source;
    const qsizetype at = source.indexOf('@');
    const std::string model = math     ? std::string("math")
                              : at > 0 ? source.left(at).toStdString()
                                       : std::string();
    const std::string device = math     ? c->expression.toStdString()
                               : at > 0 ? source.mid(at + 1).toStdString()
                                        : source.toStdString();
    const int served = channels_.addChannel(c->name.toStdString(),
                                            math ? ServedKind::Math : ServedKind::Meter, model, device);
    served_[id] = {served, model};
    channels_.online(served, model_.isOnline(id));
}

void BenchServing::reading(int id, const BenchReading& r) {
    const auto it = served_.find(id);
    if (it == served_.end() || r.isGap()) return;
    ServedCounters counters;
    counters.frames = model_.readingCount(id);
    channels_.counters(it->second.id, counters);
    channels_.reading(it->second.id, benchMeterReading(r, it->second.model));
}
