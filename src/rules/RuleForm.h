#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

#include "RulesEngine.h"

// The rules as a window's dialog holds them: the texts as typed, kept so that the dialog shows
// them again as they were written, and read into settings when the dialog is accepted.
struct RuleForm {
    std::optional<qint64> startAtMs, stopAtMs;  // UTC milliseconds
    QString startWhen, stopWhen;
    QString forText, preText;  // durations: "90", "45s", "1h30m"
    int rows = 0;              // 0: no limit
    QString hysteresisText, holdText;
    QString changesText;  // percent; empty: every reading
    QString alarms;       // one "name: condition" a line
    QString program;      // run on entering and leaving an alarm
    QString summaryPath, everyText;

    bool empty() const;
    // The settings the texts give, or the first fault, naming its field ("Stop after: not a
    // duration: 'ten'"). Conditions are read over `channels`, "value" meaning `ownChannel`.
    Result<RuleSettings> settings(const std::vector<QString>& channels, int ownChannel) const;
};
