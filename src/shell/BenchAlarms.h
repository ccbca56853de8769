#pragma once

#include <map>
#include <memory>

#include "BenchRules.h"

class AlarmBanner;
class AlarmPrograms;
class BenchModel;
class BenchWindow;

// The bench window's triggers and alarms: "Triggers and alarms…" on a tile opens the dialog for
// that channel, its alarms are said in a banner over the window and run the channel's program.
class BenchAlarms {
public:
    BenchAlarms(BenchWindow& window, BenchModel& model);
    ~BenchAlarms();

    // The dialog for a channel, as the tile's menu opens it.
    void edit(int channelId);
    // The channel's rules as the dialog sets them; a fault is said in the window.
    Result<> apply(int channelId, const RuleForm& form);
    AlarmBanner* banner() const { return banner_; }

private:
    BenchWindow& window_;
    BenchModel& model_;
    AlarmBanner* banner_;
    std::map<int, std::unique_ptr<AlarmPrograms>> programs_;
    BenchRules rules_;
};
