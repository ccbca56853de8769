#pragma once

#include <QThread>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

#include "RuleOptions.h"
#include "RulesEngine.h"
#include "SummaryFile.h"

class AlarmPrograms;
class MqttPublisher;

// The rules of a run without a window (--decode, the headless bench): the engine under a lock, fed by the
// reading loop and ticked from a thread of its own four times a second (alarms of missing readings, hold
// times, time limits on a quiet line), the alarms' lines on the error stream, their retained messages and
// program, the summary file and the segment lines.
//
// The alarm program runs on that thread's event loop, so a slow one never holds up the readings.
// Lines on the error stream are written under the lock, one at a time.
class HeadlessRules {
public:
    // Where rows go: a reading the rules let through, with its note.
    using Recorder = std::function<void(const MeterReading&, const std::string& note)>;

    // Nothing, with the reason, when the summary file cannot be written. `clock` says the run's
    // time in UTC microseconds (the line's for a capture); with `ticking` it is also asked from
    // the rules' thread.
    // `channels` are the channels' names; "value" in a condition means `ownChannel` (-1: none).
    static std::unique_ptr<HeadlessRules> start(const RuleOptions& options,
                                                const std::vector<QString>& channels, int ownChannel,
                                                std::function<int64_t()> clock, bool ticking,
                                                std::ostream& err, std::string* error);
    ~HeadlessRules();

    // Readings the rules let through go to `recorder`; without one nothing is recorded by them.
    void setRecorder(Recorder recorder) { recorder_ = std::move(recorder); }
    // Alarms are also published, retained, under `topicBase`/alarm/NAME.
    void setPublisher(MqttPublisher* publisher, const std::string& topicBase);
    // Called once when no segment can start any more.
    void setWhenDone(std::function<void()> whenDone) { whenDone_ = std::move(whenDone); }

    void offer(int channel, const MeterReading& reading);
    // The end of the run: the open segment and summary interval end, programs still running get
    // a few seconds. Closing counts on the error stream.
    void finish();

    bool gatesRecording() const {
        return options_.settings.gatesRecording() || options_.settings.changePercent;
    }
    int alarmsEntered() const { return entered_; }

private:
    explicit HeadlessRules(const RuleOptions& options, std::ostream& err) : options_(options), err_(err) {}
    void alarm(const AlarmEvent& e);
    void checkDone();

    RuleOptions options_;
    std::ostream& err_;
    std::mutex mutex_;  // the engine, the error stream and the summary file
    std::unique_ptr<RulesEngine> engine_;
    Recorder recorder_;
    std::function<void()> whenDone_;
    bool doneSaid_ = false;
    MqttPublisher* publisher_ = nullptr;
    std::string topicBase_;
    SummaryFile summary_;
    bool summaryFailed_ = false;
    int entered_ = 0;

    QThread thread_;
    QObject* context_ = nullptr;         // lives on thread_
    AlarmPrograms* programs_ = nullptr;  // lives on thread_
};
