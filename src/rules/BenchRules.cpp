#include "BenchRules.h"

#include "BenchModel.h"
#include "LocalClock.h"

namespace {
constexpr int kTickMs = 250;
}

BenchRules::BenchRules(BenchModel& model, std::function<void(int, const AlarmEvent&)> onAlarm,
                       QObject* parent)
    : QObject(parent), model_(model), onAlarm_(std::move(onAlarm)) {
    connect(&model_, &BenchModel::readingAdded, this, &BenchRules::offer);
    connect(&model_, &BenchModel::channelAdded, this, &BenchRules::rebuild);
    connect(&model_, &BenchModel::channelRemoved, this, [this](int id) {
        channels_.erase(id);
        rebuild();
    });
    tick_.setInterval(kTickMs);
    connect(&tick_, &QTimer::timeout, this, [this] {
        for (auto& [id, c] : channels_) {
            if (c.engine) c.engine->tick();
        }
    });
}

BenchRules::~BenchRules() {
    for (auto& [id, c] : channels_) {
        if (c.engine) c.engine->finish();
    }
}

std::vector<QString> BenchRules::channelNames() const {
    std::vector<QString> names;
    for (const int id : model_.channelIds()) names.push_back(model_.channel(id)->name);
    return names;
}

int BenchRules::indexOf(int channelId) const {
    return int(model_.channelIds().indexOf(channelId));
}

RuleForm BenchRules::form(int channelId) const {
    const auto at = channels_.find(channelId);
    return at == channels_.end() ? RuleForm() : at->second.form;
}

MeterReading BenchRules::readingOf(const BenchReading& reading) {
    MeterReading m;
    m.utcUs = reading.timeMs * 1000;
    m.value = m.baseValue = reading.value;
    m.unit = m.baseUnit = reading.unit.toStdString();
    m.display = reading.display.toStdString();
    m.acdc = reading.acdc.toStdString();
    m.range = reading.range.toStdString();
    m.overload = reading.overload;
    return m;
}

Result<> BenchRules::build(int channelId, Channel& c) {
    const Result<RuleSettings> settings = c.form.settings(channelNames(), indexOf(channelId));
    if (!settings) return Failure{settings.error()};
    std::unique_ptr<SummaryFile> summary;
    if (settings.value().summaryEveryUs) {
        summary = std::make_unique<SummaryFile>();
        std::string error;
        if (!summary->open(c.form.summaryPath.toStdString(), &error)) return Failure{error};
    }
    RulesEngine::Output out;
    out.alarm = [this, channelId](const AlarmEvent& e) { onAlarm_(channelId, e); };
    out.summary = [s = summary.get()](const SummaryRow& row) { s->add(row); };
    Result<std::unique_ptr<RulesEngine>> engine = RulesEngine::create(
        settings.value(), channelNames(), indexOf(channelId), [] { return LocalClock::utcNowMs() * 1000; },
        out);
    if (!engine) return Failure{engine.error()};
    if (c.engine) c.engine->finish();
    c.engine = std::move(engine.value());
    c.summary = std::move(summary);
    return {};
}

Result<> BenchRules::setRules(int channelId, const RuleForm& form) {
    Channel& c = channels_[channelId];
    const RuleForm before = c.form;
    c.form = form;
    const Result<> built = build(channelId, c);
    if (!built) {
        c.form = before;
        return built;
    }
    if (form.empty()) channels_.erase(channelId);
    tick_.start();
    return {};
}

void BenchRules::rebuild() {
    for (auto& [id, c] : channels_) {
        // a channel an expression named may be gone: its rules wait for the dialog again
        if (!build(id, c)) c.engine.reset();
    }
}

void BenchRules::offer(int channelId, const BenchReading& reading) {
    const int index = indexOf(channelId);
    if (index < 0) return;
    const MeterReading m = readingOf(reading);
    for (auto& [id, c] : channels_) {
        if (c.engine) c.engine->offer(index, m);
    }
}
