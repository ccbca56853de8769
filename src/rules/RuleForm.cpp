#include "RuleForm.h"

#include <QStringList>

namespace {

Result<int64_t> durationOf(const char* field, const QString& text) {
    const Result<int64_t> d = RuleText::durationUs(text.toStdString());
    if (!d) return Failure{std::string(field) + ": " + d.error()};
    return d;
}

}  // namespace

bool RuleForm::empty() const {
    return !startAtMs && !stopAtMs && startWhen.trimmed().isEmpty() && stopWhen.trimmed().isEmpty() &&
           forText.trimmed().isEmpty() && rows == 0 && changesText.trimmed().isEmpty() &&
           alarms.trimmed().isEmpty() && summaryPath.trimmed().isEmpty();
}

Result<RuleSettings> RuleForm::settings(const std::vector<QString>& channels, int ownChannel) const {
    RuleSettings s;
    if (startAtMs) s.startAtUs = *startAtMs * 1000;
    if (stopAtMs) s.stopAtUs = *stopAtMs * 1000;
    s.startWhen = startWhen.trimmed();
    s.stopWhen = stopWhen.trimmed();
    if (!forText.trimmed().isEmpty()) {
        const Result<int64_t> d = durationOf("Stop after", forText);
        if (!d) return Failure{d.error()};
        s.forUs = d.value();
    }
    if (rows > 0) s.rows = rows;
    if (!preText.trimmed().isEmpty()) {
        const Result<int64_t> d = durationOf("Keep before a start", preText);
        if (!d) return Failure{d.error()};
        s.preUs = d.value();
    }
    if (!holdText.trimmed().isEmpty()) {
        const Result<int64_t> d = durationOf("Hold", holdText);
        if (!d) return Failure{d.error()};
        s.holdUs = d.value();
    }
    if (!hysteresisText.trimmed().isEmpty()) {
        const Result<RuleText::Quantity> q = RuleText::quantity(hysteresisText);
        if (!q || q.value().number < 0) return Failure{"Hysteresis: a number of 0 or more is expected"};
        s.hysteresis = q.value();
    }
    if (!changesText.trimmed().isEmpty()) {
        bool ok = false;
        const double percent = changesText.trimmed().toDouble(&ok);
        if (!ok || percent < 0)
            return Failure{"Record changes beyond: a percentage of 0 or more is expected"};
        s.changePercent = percent;
    }
    for (const QString& line : alarms.split('\n', Qt::SkipEmptyParts)) {
        if (!line.trimmed().isEmpty()) s.alarms.push_back(line.trimmed());
    }
    if (!summaryPath.trimmed().isEmpty()) {
        const Result<int64_t> d = durationOf("Summary every", everyText);
        if (!d) return Failure{d.error()};
        if (d.value() <= 0) return Failure{"Summary every: a time longer than 0 is expected"};
        s.summaryEveryUs = d.value();
    }
    if (s.startAtUs && s.stopAtUs && *s.stopAtUs <= *s.startAtUs)
        return Failure{"Stop at: not after the start"};
    const Result<std::unique_ptr<RulesEngine>> check = RulesEngine::create(s, channels, ownChannel, {}, {});
    if (!check) return Failure{check.error()};
    return s;
}
