#include "RulesEngine.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace {

std::string seconds(int64_t us) {
    const double s = double(us) / 1e6;
    std::string text = std::to_string(s);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text + " s";
}

}  // namespace

RulesEngine::~RulesEngine() = default;

Result<std::unique_ptr<RulesEngine>> RulesEngine::create(const RuleSettings& settings,
                                                         const std::vector<QString>& channels, int ownChannel,
                                                         std::function<int64_t()> clock, Output output) {
    std::unique_ptr<RulesEngine> e(new RulesEngine);
    e->settings_ = settings;
    e->channels_ = channels;
    e->ownChannel_ = ownChannel;
    e->clock_ = std::move(clock);
    e->out_ = std::move(output);
    e->latest_.resize(channels.size());
    if (!settings.startWhen.isEmpty()) {
        Result<std::unique_ptr<Condition>> c = e->condition(settings.startWhen, &e->startState_);
        if (!c) return Failure{"--start-when: " + c.error()};
        e->startWhen_ = std::move(c.value());
    }
    if (!settings.stopWhen.isEmpty()) {
        Result<std::unique_ptr<Condition>> c = e->condition(settings.stopWhen, &e->stopState_);
        if (!c) return Failure{"--stop-when: " + c.error()};
        e->stopWhen_ = std::move(c.value());
    }
    for (const QString& alarm : settings.alarms) {
        const Result<> added = e->addAlarm(alarm);
        if (!added) return Failure{"--alarm: " + added.error()};
    }
    if (settings.changePercent) e->changes_.assign(channels.size(), ChangeFilter(*settings.changePercent));
    if (settings.summaryEveryUs) {
        e->summary_ =
            std::make_unique<IntervalSummary>(*settings.summaryEveryUs, [out = e->out_](const SummaryRow& r) {
                if (out.summary) out.summary(r);
            });
    }
    // without a start rule the first reading starts the one segment
    const bool startRule = settings.startAtUs || e->startWhen_;
    e->state_ = startRule ? State::Waiting : State::Recording;
    return e;
}

Result<std::unique_ptr<Condition>> RulesEngine::condition(const QString& text, ConditionState* state) {
    Result<std::unique_ptr<Condition>> c = Condition::parse(
        text,
        [this](const QString& name) {
            const auto at = std::find(channels_.begin(), channels_.end(), name);
            return at == channels_.end() ? -1 : int(at - channels_.begin());
        },
        ownChannel_);
    if (!c) return c;
    double hysteresis = 0;
    if (settings_.hysteresis) {
        const RuleText::Quantity& h = *settings_.hysteresis;
        if (h.unit.isEmpty()) {
            hysteresis = h.number * c.value()->scale();
        } else if (h.baseUnit() != c.value()->unit()) {
            return Failure{"the hysteresis " + RuleText::quoted(QString::number(h.number) + ' ' + h.unit) +
                           " is not in the unit of " + RuleText::quoted(text)};
        } else {
            hysteresis = h.base();
        }
        if (hysteresis < 0) return Failure{"the hysteresis must not be negative"};
    }
    *state = ConditionState(settings_.holdUs, hysteresis);
    return c;
}

Result<> RulesEngine::addAlarm(const QString& text) {
    const qsizetype colon = text.indexOf(':');
    const QString name = text.left(colon).trimmed();
    if (colon < 0 || name.isEmpty())
        return Failure{"an alarm is written 'name: condition': " + RuleText::quoted(text)};
    for (const Alarm& a : alarms_) {
        if (a.name == name) return Failure{"two alarms are named " + RuleText::quoted(name)};
    }
    Alarm a;
    a.name = name;
    a.channel = ownChannel_;
    const QString rule = text.mid(colon + 1).trimmed();
    // "no reading for 30 s" watches the own channel, "no reading from U for 30 s" another
    static const QRegularExpression kSilence(QStringLiteral("^no reading (?:from (.+) )?for (.+)$"));
    const QRegularExpressionMatch silence = kSilence.match(rule);
    if (silence.hasMatch()) {
        const QString from = silence.captured(1).trimmed();
        const auto named = std::find(channels_.begin(), channels_.end(), from);
        a.channel = from.isEmpty()             ? ownChannel_
                    : named == channels_.end() ? -1
                                               : int(named - channels_.begin());
        if (a.channel < 0)
            return Failure{"in " + RuleText::quoted(text) + ": " +
                           (from.isEmpty() ? std::string("say whose readings: no reading from NAME for 30 s")
                                           : "no channel named " + RuleText::quoted(from))};
        const Result<int64_t> d = RuleText::durationUs(silence.captured(2).toStdString());
        if (!d) return Failure{"in " + RuleText::quoted(text) + ": " + d.error()};
        if (d.value() <= 0) return Failure{"in " + RuleText::quoted(text) + ": the time must be more than 0"};
        a.silenceUs = d.value();
    } else {
        Result<std::unique_ptr<Condition>> c = condition(rule, &a.state);
        if (!c) return Failure{c.error()};
        a.condition = std::move(c.value());
        if (!a.condition->inputs().empty()) a.channel = a.condition->inputs().front();
    }
    alarms_.push_back(std::move(a));
    return {};
}

int64_t RulesEngine::skipped() const {
    int64_t n = 0;
    for (const ChangeFilter& f : changes_) n += f.skippedTotal();
    return n;
}

int64_t RulesEngine::now() {
    const int64_t t = std::max(clock_ ? clock_() : lastUs_, lastUs_);
    if (firstUs_ == INT64_MIN) firstUs_ = t;
    return t;
}

std::optional<Condition::Value> RulesEngine::evaluate(Condition& c, int64_t utcUs) {
    return c.evaluate(utcUs, [this](int channel) -> std::optional<BenchExpression::Input> {
        const Latest& l = latest_[size_t(channel)];
        if (!l.any || !l.reading.hasNumber()) return std::nullopt;
        return BenchExpression::Input{l.reading.baseValue, QString::fromStdString(l.reading.baseUnit)};
    });
}

void RulesEngine::offer(int channel, const MeterReading& reading) {
    if (channel < 0 || channel >= int(latest_.size())) return;
    lastUs_ = std::max(lastUs_, reading.utcUs);
    if (firstUs_ == INT64_MIN) firstUs_ = reading.utcUs;
    latest_[size_t(channel)] = {true, reading};
    const auto reads = [channel](const Condition& c) {
        return std::find(c.inputs().begin(), c.inputs().end(), channel) != c.inputs().end();
    };
    ConditionState::Change startChange = ConditionState::Change::None;
    if (startWhen_ && reads(*startWhen_)) {
        if (const auto v = evaluate(*startWhen_, reading.utcUs))
            startChange = startState_.update(*startWhen_, reading.utcUs, v->value);
    }
    if (stopWhen_ && reads(*stopWhen_)) {
        if (const auto v = evaluate(*stopWhen_, reading.utcUs))
            stopState_.update(*stopWhen_, reading.utcUs, v->value);
    }
    followAlarms(channel, reading.utcUs);
    if (summary_) summary_->offer(channel, channels_[size_t(channel)], reading);
    gate(channel, reading, startChange);
}

void RulesEngine::followAlarms(int channel, int64_t utcUs) {
    for (Alarm& a : alarms_) {
        if (!a.condition) {
            if (a.channel == channel && a.silent) {
                a.silent = false;
                sayAlarm(a, false, utcUs);
            }
            continue;
        }
        const std::vector<int>& in = a.condition->inputs();
        if (std::find(in.begin(), in.end(), channel) == in.end()) continue;
        const std::optional<Condition::Value> v = evaluate(*a.condition, utcUs);
        if (!v) continue;
        a.lastValue = v;
        const ConditionState::Change change = a.state.update(*a.condition, utcUs, v->value);
        if (change != ConditionState::Change::None)
            sayAlarm(a, change == ConditionState::Change::Entered, utcUs);
    }
}

void RulesEngine::sayAlarm(const Alarm& a, bool entered, int64_t utcUs) {
    if (!out_.alarm) return;
    AlarmEvent e;
    e.name = a.name;
    e.entered = entered;
    if (a.channel >= 0) e.channel = channels_[size_t(a.channel)];
    e.utcUs = utcUs;
    if (a.condition) {
        e.condition = a.condition->text();
        if (a.lastValue) e.value = a.lastValue->value, e.unit = a.lastValue->unit;
    } else {
        e.condition = QStringLiteral("no reading for ") + QString::fromStdString(seconds(a.silenceUs));
    }
    out_.alarm(e);
}

void RulesEngine::gate(int channel, const MeterReading& reading, ConditionState::Change startChange) {
    const int64_t t = reading.utcUs;
    checkTime(t);
    if (state_ == State::Done) return;
    if (state_ == State::Waiting) {
        bool start = !settings_.startAtUs || t >= *settings_.startAtUs;
        // before the start time the condition is not watched; from then on it has to be entered
        if (start && startWhen_) start = startChange == ConditionState::Change::Entered;
        if (!start) {
            keep(channel, reading);
            return;
        }
        startSegment(t, startWhen_ ? startWhen_->text().toStdString() : std::string("start time"));
    }
    if (segment_ == 0) startSegment(t, "first reading");
    put(channel, reading);
    if (settings_.rows && segmentRows_ >= *settings_.rows) {
        endSegment(t, "after " + std::to_string(segmentRows_) + " rows", false);
    } else if (stopWhen_ && stopState_.on()) {
        endSegment(t, stopWhen_->text().toStdString(), false);
    }
}

void RulesEngine::checkTime(int64_t utcUs) {
    if (settings_.stopAtUs && utcUs >= *settings_.stopAtUs && state_ != State::Done) {
        if (state_ == State::Recording && segment_ > 0) endSegment(*settings_.stopAtUs, "stop time", true);
        state_ = State::Done;
        pre_.clear();
        return;
    }
    if (state_ == State::Recording && segment_ > 0 && settings_.forUs &&
        utcUs >= segmentStartUs_ + *settings_.forUs)
        endSegment(segmentStartUs_ + *settings_.forUs, "after " + seconds(*settings_.forUs), false);
}

void RulesEngine::keep(int channel, const MeterReading& reading) {
    if (settings_.preUs <= 0) return;
    pre_.push_back({channel, reading});
    while (!pre_.empty() && pre_.front().reading.utcUs < reading.utcUs - settings_.preUs) pre_.pop_front();
}

void RulesEngine::startSegment(int64_t utcUs, const std::string& why) {
    state_ = State::Recording;
    ++segment_;
    segmentStartUs_ = utcUs;
    segmentRows_ = 0;
    if (settings_.gatesRecording()) note_ = "segment " + std::to_string(segment_) + ": " + why;
    if (out_.segment) out_.segment({segment_, true, utcUs, why});
    // what was kept from before the start, no earlier than the pre-trigger time
    while (!pre_.empty()) {
        const Pending p = std::move(pre_.front());
        pre_.pop_front();
        if (p.reading.utcUs >= utcUs - settings_.preUs) put(p.channel, p.reading);
    }
}

void RulesEngine::put(int channel, const MeterReading& reading) {
    if (!changes_.empty() && !changes_[size_t(channel)].pass(reading)) return;
    std::string note = std::move(note_);
    note_.clear();
    if (!changes_.empty() && changes_[size_t(channel)].skippedBefore() > 0) {
        if (!note.empty()) note += "; ";
        note += std::to_string(changes_[size_t(channel)].skippedBefore()) + " readings skipped";
    }
    ++segmentRows_;
    if (out_.record) out_.record(channel, reading, note);
}

void RulesEngine::endSegment(int64_t utcUs, const std::string& why, bool forGood) {
    if (out_.segment) out_.segment({segment_, false, utcUs, why});
    // a later start needs a start condition, entered afresh
    state_ = forGood || !startWhen_ ? State::Done : State::Waiting;
    note_.clear();
}

void RulesEngine::tick() {
    const int64_t t = now();
    checkTime(t);
    for (Alarm& a : alarms_) {
        if (a.condition) {
            if (a.state.tick(t) == ConditionState::Change::Entered) sayAlarm(a, true, t);
            continue;
        }
        const Latest& l = latest_[size_t(a.channel)];
        // counted from the first reading of the run, or from the start when none came
        const int64_t since = l.any ? l.reading.utcUs : firstUs_;
        if (!a.silent && t - since >= a.silenceUs) {
            a.silent = true;
            sayAlarm(a, true, t);
        }
    }
    if (summary_) summary_->advance(t);
}

void RulesEngine::finish() {
    const int64_t t = now();
    tick();
    if (state_ == State::Recording && segment_ > 0) endSegment(t, "end of the run", true);
    state_ = State::Done;
    if (summary_) summary_->finish(t);
}
