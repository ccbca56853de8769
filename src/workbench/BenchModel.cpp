#include "BenchModel.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <map>

#include "BenchExpression.h"
#include "BenchUnits.h"
#include "ReadingPace.h"

namespace {

constexpr int kStaleCheckMs = 250;

// A time on the model's steady clock, in milliseconds, as a point of the pace's clock.
ReadingPace::Clock::time_point paceTime(qint64 ms) {
    return ReadingPace::Clock::time_point(std::chrono::milliseconds(ms));
}

}  // namespace

struct BenchModel::Channel {
    ChannelInfo info;
    std::optional<BenchReading> latest;
    qint64 lastReceivedMs = -1;
    // stale by the meter line's rule: three times the median of the latest intervals
    ReadingPace pace;
    QString note;
    bool online = false;
    bool stale = false;
    uint64_t readings = 0;

    // statistics since the reset: Welford's running mean and sum of squared differences, of the
    // values less the first one, so that a small swing on a large value keeps its digits
    uint64_t n = 0;
    uint64_t gaps = 0;
    uint64_t overloads = 0;
    QString unitBefore;  // the statistics started again when the unit changed from this one
    double shift = 0;
    double mean = 0;
    double m2 = 0;
    double min = 0;
    double max = 0;
    std::optional<double> rel;
    uint64_t statisticsFrom = 0;  // history.count() at the reset

    ChannelHistory history;
    std::unique_ptr<BenchExpression> expression;  // a math channel's
    std::vector<int> dependents;                  // math channels that read this one

    qint64 staleAfter() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(pace.quietLimit()).count();
    }

    void resetStatistics() {
        statisticsFrom = history.count();
        n = gaps = overloads = 0;
        mean = m2 = min = max = 0;
    }
    void count(double value) {
        if (n == 0) shift = value;
        const double v = value - shift;
        ++n;
        const double delta = v - mean;
        mean += delta / double(n);
        m2 += delta * (v - mean);
        min = n == 1 ? value : std::min(min, value);
        max = n == 1 ? value : std::max(max, value);
    }
    void addHistory(qint64 t, double v) { history.add(t, v); }
    // Marks where the line of the channel breaks, once.
    void breakHistory(qint64 t) {
        if (!history.empty() && !std::isnan(history.lastValue()))
            addHistory(std::max<qint64>(t, history.lastTime()), NAN);
    }
};

struct BenchModel::Impl {
    std::map<int, Channel> channels;
    QVector<int> order;
    int nextId = 1;
    QTimer staleTimer;
    ChannelHistory none;
    bool historyKept = true;
    std::function<std::chrono::steady_clock::time_point()> clock = [] {
        return std::chrono::steady_clock::now();
    };

    Channel* find(int id) {
        const auto it = channels.find(id);
        return it == channels.end() ? nullptr : &it->second;
    }
    const Channel* find(int id) const {
        const auto it = channels.find(id);
        return it == channels.end() ? nullptr : &it->second;
    }
};

BenchModel::BenchModel(QObject* parent) : QObject(parent), d_(std::make_unique<Impl>()) {
    d_->staleTimer.setInterval(kStaleCheckMs);
    connect(&d_->staleTimer, &QTimer::timeout, this, [this] { checkStale(nowMs()); });
    d_->staleTimer.start();
}

BenchModel::~BenchModel() = default;

QString BenchModel::checkNewName(const QString& name) const {
    if (name.trimmed().isEmpty()) return tr("a channel needs a name");
    if (name != name.trimmed()) return tr("a name does not begin or end with a space");
    if (name.contains('[') || name.contains(']') || name.contains('='))
        return tr("a name holds no '[', ']' or '='");
    if (name == "abs" || name == "sqrt" || name == "integral")
        return tr("'%1' is the name of a function").arg(name);
    if (channelId(name) >= 0) return tr("there is a channel named '%1' already").arg(name);
    return {};
}

int BenchModel::addMeter(const QString& name, const QString& source) {
    if (!checkNewName(name).isEmpty()) return -1;
    const int id = d_->nextId++;
    Channel& ch = d_->channels[id];
    ch.info = ChannelInfo{id, name, ChannelKind::Meter, {}, source, {}};
    d_->order.push_back(id);
    emit channelAdded(id);
    return id;
}

BenchModel::MathAdded BenchModel::addMath(const QString& name, const QString& expression) {
    MathAdded added;
    added.error = checkNewName(name);
    if (!added.error.isEmpty()) return added;
    auto parsed = BenchExpression::parse(
        expression, [&](const QString& n) { return n == name ? BenchExpression::kItself : channelId(n); });
    if (!parsed.expression) {
        added.error = parsed.error;
        added.position = parsed.position;
        return added;
    }
    const int id = d_->nextId++;
    Channel& ch = d_->channels[id];
    ch.info = ChannelInfo{id, name, ChannelKind::Math, {}, {}, expression};
    ch.online = true;
    for (const int input : parsed.expression->inputs()) {
        Channel* in = d_->find(input);
        in->dependents.push_back(id);
        ch.online = ch.online && in->online;
    }
    ch.expression = std::move(parsed.expression);
    d_->order.push_back(id);
    added.id = id;
    emit channelAdded(id);
    return added;
}

void BenchModel::removeChannel(int id) {
    Channel* ch = d_->find(id);
    if (!ch) return;
    const std::vector<int> dependents = ch->dependents;
    for (const int dep : dependents) removeChannel(dep);
    if (ch->expression) {
        for (const int input : ch->expression->inputs()) {
            if (Channel* in = d_->find(input))
                in->dependents.erase(std::remove(in->dependents.begin(), in->dependents.end(), id),
                                     in->dependents.end());
        }
    }
    d_->channels.erase(id);
    d_->order.removeAll(id);
    emit channelRemoved(id);
}

QVector<int> BenchModel::channelIds() const {
    return d_->order;
}

int BenchModel::channelId(const QString& name) const {
    for (const auto& [id, ch] : d_->channels) {
        if (ch.info.name == name) return id;
    }
    return -1;
}

const ChannelInfo* BenchModel::channel(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? &ch->info : nullptr;
}

void BenchModel::addReading(int id, const BenchReading& reading, qint64 receivedMs) {
    Channel* ch = d_->find(id);
    if (!ch) return;
    if (receivedMs < 0) receivedMs = reading.timeMs;
    ch->pace.wholeFrame(paceTime(receivedMs));
    // a meter switched to another function starts its statistics and REL afresh
    if (!reading.unit.isEmpty() && reading.unit != ch->info.unit) {
        const bool hadUnit = !ch->info.unit.isEmpty();
        const QString previousUnit = ch->info.unit;
        ch->info.unit = reading.unit;
        if (hadUnit) {
            ch->resetStatistics();
            ch->unitBefore = previousUnit;
            ch->rel.reset();
            emit statisticsReset(id);
            emit relChanged(id);
        }
        emit channelChanged(id);
    }
    ch->latest = reading;
    ch->lastReceivedMs = receivedMs;
    ++ch->readings;
    if (reading.hasValue())
        ch->count(reading.value);
    else if (reading.overload)
        ++ch->overloads;
    else
        ++ch->gaps;
    if (d_->historyKept) ch->addHistory(reading.timeMs, reading.value);
    if (ch->info.kind == ChannelKind::Meter && !ch->online) setOnline(id, true);
    if (ch->stale) {
        ch->stale = false;
        emit staleChanged(id, false);
    }
    emit readingAdded(id, reading);

    // the dependents, computed from the latest value of each of their inputs
    const std::vector<int> dependents = ch->dependents;
    for (const int dep : dependents) {
        Channel* math = d_->find(dep);
        if (!math) continue;
        const auto result = math->expression->evaluate(
            reading.timeMs, [&](int input) -> std::optional<BenchExpression::Input> {
                const Channel* in = d_->find(input);
                if (!in || !in->online || !in->latest || !in->latest->hasValue()) return std::nullopt;
                if (in->pace.stale(paceTime(receivedMs))) return std::nullopt;
                return BenchExpression::Input{in->latest->value, in->latest->unit};
            });
        BenchReading out;
        out.timeMs = reading.timeMs;
        if (result) {
            out.value = result->value;
            out.unit = result->unit;
            out.display = BenchUnits::formatSi(result->value, result->unit);
        } else {
            out.unit = math->info.unit;
        }
        addReading(dep, out, receivedMs);
    }
}

void BenchModel::setOnline(int id, bool online) {
    Channel* ch = d_->find(id);
    if (!ch || ch->online == online) return;
    ch->online = online;
    if (!online) ch->breakHistory(ch->latest ? ch->latest->timeMs : QDateTime::currentMSecsSinceEpoch());
    emit onlineChanged(id, online);
    const std::vector<int> dependents = ch->dependents;
    for (const int dep : dependents) {
        Channel* math = d_->find(dep);
        if (!math) continue;
        bool all = true;
        for (const int input : math->expression->inputs()) {
            const Channel* in = d_->find(input);
            all = all && in && in->online;
        }
        setOnline(dep, all);
    }
}

std::optional<BenchReading> BenchModel::latest(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->latest : std::nullopt;
}

bool BenchModel::isOnline(int id) const {
    const Channel* ch = d_->find(id);
    return ch && ch->online;
}

bool BenchModel::isStale(int id) const {
    const Channel* ch = d_->find(id);
    return ch && ch->stale;
}

uint64_t BenchModel::readingCount(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->readings : 0;
}

qint64 BenchModel::staleAfterMs(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->staleAfter()
              : std::chrono::duration_cast<std::chrono::milliseconds>(ReadingPace::kMinimumQuiet).count();
}

ChannelStats BenchModel::statistics(int id) const {
    ChannelStats s;
    const Channel* ch = d_->find(id);
    if (!ch) return s;
    s.gaps = ch->gaps;
    s.overloads = ch->overloads;
    if (ch->n == 0) return s;
    s.count = ch->n;
    s.min = ch->min;
    s.max = ch->max;
    s.mean = ch->shift + ch->mean;
    s.stddev = ch->n > 1 ? std::sqrt(ch->m2 / double(ch->n - 1)) : 0;
    return s;
}

uint64_t BenchModel::statisticsFrom(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->statisticsFrom : 0;
}

void BenchModel::resetStatistics(int id) {
    Channel* ch = d_->find(id);
    if (!ch) return;
    ch->resetStatistics();
    ch->unitBefore.clear();
    if (ch->expression) ch->expression->resetIntegrals();
    emit statisticsReset(id);
}

void BenchModel::resetAllStatistics() {
    for (const int id : d_->order) resetStatistics(id);
}

QString BenchModel::statisticsUnitBefore(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->unitBefore : QString();
}

void BenchModel::captureRel(int id) {
    Channel* ch = d_->find(id);
    if (!ch || !ch->latest || !ch->latest->hasValue()) return;
    ch->rel = ch->latest->value;
    emit relChanged(id);
}

void BenchModel::clearRel(int id) {
    Channel* ch = d_->find(id);
    if (!ch || !ch->rel) return;
    ch->rel.reset();
    emit relChanged(id);
}

std::optional<double> BenchModel::relReference(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->rel : std::nullopt;
}

std::optional<double> BenchModel::relValue(int id) const {
    const Channel* ch = d_->find(id);
    if (!ch || !ch->rel || !ch->latest || !ch->latest->hasValue()) return std::nullopt;
    return ch->latest->value - *ch->rel;
}

const ChannelHistory& BenchModel::history(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->history : d_->none;
}

void BenchModel::setHistoryKept(bool kept) {
    d_->historyKept = kept;
}

void BenchModel::checkStale(qint64 nowMs) {
    for (const int id : d_->order) {
        Channel* ch = d_->find(id);
        if (ch->stale || ch->lastReceivedMs < 0 || !ch->pace.stale(paceTime(nowMs))) continue;
        ch->stale = true;
        // the break goes where the next reading was due at the latest, on the reading's clock
        ch->breakHistory(ch->latest->timeMs + ch->staleAfter());
        emit staleChanged(id, true);
    }
}

qint64 BenchModel::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d_->clock().time_since_epoch()).count();
}

void BenchModel::setClock(std::function<std::chrono::steady_clock::time_point()> clock) {
    d_->clock = std::move(clock);
}

void BenchModel::setNote(int id, const QString& note) {
    Channel* ch = d_->find(id);
    if (!ch || ch->note == note) return;
    ch->note = note;
    emit noteChanged(id);
}

QString BenchModel::note(int id) const {
    const Channel* ch = d_->find(id);
    return ch ? ch->note : QString();
}
