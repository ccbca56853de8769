#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "RuleForm.h"
#include "RulesEngine.h"
#include "SummaryFile.h"

class BenchModel;
struct BenchReading;

// The rules of the bench's channels, each said with the channel whose rules they are: each
// channel may have alarms (over any channels, "value"
// being its own) and an interval summary, set from its tile. Every reading of every channel is
// offered to each channel's rules; a clock looks four times a second for alarms of missing
// readings. Channels added or removed start the rules afresh (alarms in force are left).
class BenchRules : public QObject {
public:
    BenchRules(BenchModel& model, std::function<void(int channelId, const AlarmEvent&)> onAlarm,
               QObject* parent = nullptr);
    ~BenchRules() override;

    // The channel's rules; the fault of the first field that is wrong, nothing changed then.
    Result<> setRules(int channelId, const RuleForm& form);
    RuleForm form(int channelId) const;
    // The channels' names in id order, and the index of one.
    std::vector<QString> channelNames() const;
    int indexOf(int channelId) const;

    static MeterReading readingOf(const BenchReading& reading);

private:
    struct Channel {
        RuleForm form;
        std::unique_ptr<RulesEngine> engine;
        std::unique_ptr<SummaryFile> summary;
    };
    Result<> build(int channelId, Channel& c);
    void rebuild();
    void offer(int channelId, const BenchReading& reading);

    BenchModel& model_;
    std::function<void(int channelId, const AlarmEvent&)> onAlarm_;
    std::map<int, Channel> channels_;
    QTimer tick_;
};
