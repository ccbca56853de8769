#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChangeFilter.h"
#include "Condition.h"
#include "IntervalSummary.h"
#include "MeterReading.h"
#include "Result.h"
#include "RuleText.h"

// What the rules of a recording are, as the command line or the dialog gives them. Times are
// microseconds (UTC for moments).
struct RuleSettings {
    std::optional<int64_t> startAtUs;  // a segment starts at the first reading from then on
    QString startWhen;                 // a segment starts when this condition is entered
    std::optional<int64_t> stopAtUs;   // recording ends for good at this moment
    std::optional<int64_t> forUs;      // a segment ends after so long
    std::optional<int64_t> rows;       // a segment ends after so many rows
    QString stopWhen;                  // a segment ends when this condition holds
    int64_t preUs = 0;                 // readings kept from before a start, recorded with it
    // How far past a threshold a value must go back before a condition is left: a number in the
    // threshold's own unit, or with a unit of its own.
    std::optional<RuleText::Quantity> hysteresis;
    int64_t holdUs = 0;                     // how long a condition must hold before it counts
    std::vector<QString> alarms;            // "name: condition" or "name: no reading for DURATION"
    std::optional<double> changePercent;    // event rows: record only changes beyond this share
    std::optional<int64_t> summaryEveryUs;  // interval summaries of that length

    // Whether anything decides which readings are recorded, so that rows get segment marks.
    bool gatesRecording() const {
        return startAtUs || !startWhen.isEmpty() || stopAtUs || forUs || rows || !stopWhen.isEmpty();
    }
    bool any() const { return gatesRecording() || !alarms.empty() || changePercent || summaryEveryUs; }
};

// An alarm entered or left.
struct AlarmEvent {
    QString name;
    bool entered = true;
    double value = MeterReading::kNoNumber;  // base unit; NaN for an alarm of missing readings
    QString unit;
    QString channel;
    int64_t utcUs = 0;
    QString condition;  // as written
};

// A segment of the recording started or ended.
struct SegmentEvent {
    int number = 0;  // from 1
    bool started = true;
    int64_t utcUs = 0;
    std::string why;  // "value > 1", "after 10 rows", "stop time", "end of the run"
};

// The rules of one run over the readings of its channels: which readings are recorded (start
// and stop rules, pre-trigger, several segments, event rows), the alarms and the interval
// summaries. Readings come in with their own times; a clock says the time between readings (for
// alarms of missing readings, hold times and time limits that pass without a reading), never
// earlier than the last reading.
//
// Start rules are edges: a segment starts when its condition is entered (or at the start time),
// and after it ends, only a new entry starts the next one. A stop condition ends a segment on
// the first reading it holds at; that reading is the segment's last row. A run without a start
// rule records from its first reading; one without a start condition ends for good when its
// segment ends.
class RulesEngine {
public:
    struct Output {
        // A reading to record, with the note its row carries ("segment 2: value > 1", readings
        // skipped before it); rows of a segment's pre-trigger come first, in order.
        std::function<void(int channel, const MeterReading&, const std::string& note)> record;
        std::function<void(const AlarmEvent&)> alarm;
        std::function<void(const SummaryRow&)> summary;
        std::function<void(const SegmentEvent&)> segment;
    };

    // Refused with the reason when a condition or an alarm cannot be read. `channels` are the
    // channels' names; "value" in a condition means channel `ownChannel`.
    static Result<std::unique_ptr<RulesEngine>> create(const RuleSettings& settings,
                                                       const std::vector<QString>& channels, int ownChannel,
                                                       std::function<int64_t()> clock, Output output);
    ~RulesEngine();

    void offer(int channel, const MeterReading& reading);
    // Time passed without a reading.
    void tick();
    // The end of the run: an open segment ends, the open summary interval is given, partial.
    void finish();

    // No segment can start any more: the run may end.
    bool done() const { return state_ == State::Done; }
    bool recording() const { return state_ == State::Recording; }
    int segments() const { return segment_; }
    // Readings the event rows held back.
    int64_t skipped() const;

private:
    RulesEngine() = default;
    enum class State { Waiting, Recording, Done };
    struct Alarm {
        QString name;
        std::unique_ptr<Condition> condition;  // null: an alarm of missing readings
        ConditionState state;
        int channel = 0;
        int64_t silenceUs = 0;
        bool silent = false;
        std::optional<Condition::Value> lastValue;
    };
    struct Latest {
        bool any = false;
        MeterReading reading;
    };
    struct Pending {
        int channel;
        MeterReading reading;
    };

    Result<std::unique_ptr<Condition>> condition(const QString& text, ConditionState* state);
    Result<> addAlarm(const QString& text);
    std::optional<Condition::Value> evaluate(Condition& c, int64_t utcUs);
    void followAlarms(int channel, int64_t utcUs);
    void gate(int channel, const MeterReading& reading, ConditionState::Change startChange);
    void checkTime(int64_t utcUs);
    void startSegment(int64_t utcUs, const std::string& why);
    void endSegment(int64_t utcUs, const std::string& why, bool forGood);
    void keep(int channel, const MeterReading& reading);
    void put(int channel, const MeterReading& reading);
    int64_t now();
    void sayAlarm(const Alarm& a, bool entered, int64_t utcUs);

    RuleSettings settings_;
    std::vector<QString> channels_;
    int ownChannel_ = 0;
    std::function<int64_t()> clock_;
    Output out_;

    std::unique_ptr<Condition> startWhen_, stopWhen_;
    ConditionState startState_, stopState_;
    std::vector<Alarm> alarms_;
    std::vector<ChangeFilter> changes_;  // by channel, with event rows
    std::unique_ptr<IntervalSummary> summary_;
    std::vector<Latest> latest_;
    std::deque<Pending> pre_;

    State state_ = State::Waiting;
    int segment_ = 0;
    int64_t segmentStartUs_ = 0;
    int64_t segmentRows_ = 0;
    std::string note_;  // for the next row recorded
    int64_t lastUs_ = INT64_MIN;
    int64_t firstUs_ = INT64_MIN;  // the first moment the engine saw
};
