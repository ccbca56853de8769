#include "RuleOptions.h"

#include <charconv>
#include <cmath>

#include "LocalClock.h"

namespace {

Result<int64_t> localMoment(const std::string& option, const std::string& text) {
    const LocalTimeParse t = LocalClock::parseLocalTime(text);
    if (!t.error.empty()) return Failure{option + ": " + t.error};
    return t.utcMs * 1000;
}

Result<int64_t> duration(const std::string& option, const std::string& text) {
    const Result<int64_t> d = RuleText::durationUs(text);
    if (!d) return Failure{option + ": " + d.error()};
    return d;
}

}  // namespace

bool readRuleOption(const std::vector<std::string>& args, std::size_t& i, std::optional<RuleOptions>& rules,
                    std::string& error) {
    static const char* const kOptions[] = {"--start-at",   "--stop-at",       "--for",      "--rows",
                                           "--start-when", "--stop-when",     "--pre",      "--hysteresis",
                                           "--hold",       "--alarm",         "--on-alarm", "--summary",
                                           "--every",      "--record-changes"};
    const std::string& a = args[i];
    if (std::find(std::begin(kOptions), std::end(kOptions), a) == std::end(kOptions)) return false;
    if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return true;
    }
    const std::string& value = args[++i];
    if (!rules) rules.emplace();
    RuleSettings& s = rules->settings;
    auto take = [&](const Result<int64_t>& r, std::optional<int64_t>& into) {
        if (r)
            into = r.value();
        else
            error = r.error();
    };
    const bool recordOnly = a != "--alarm" && a != "--on-alarm" && a != "--summary" && a != "--every" &&
                            a != "--hysteresis" && a != "--hold";
    if (recordOnly) rules->recordOnly = a;
    if (a == "--start-at") {
        take(localMoment(a, value), s.startAtUs);
    } else if (a == "--stop-at") {
        take(localMoment(a, value), s.stopAtUs);
    } else if (a == "--for") {
        take(duration(a, value), s.forUs);
        if (s.forUs && *s.forUs <= 0) error = "--for needs a time longer than 0";
    } else if (a == "--rows") {
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end != value.data() + value.size() || n < 1)
            error = "--rows needs a whole number of rows, 1 or more";
        else
            s.rows = n;
    } else if (a == "--start-when") {
        s.startWhen = QString::fromStdString(value);
    } else if (a == "--stop-when") {
        s.stopWhen = QString::fromStdString(value);
    } else if (a == "--pre") {
        std::optional<int64_t> pre;
        take(duration(a, value), pre);
        s.preUs = pre.value_or(0);
    } else if (a == "--hold") {
        std::optional<int64_t> hold;
        take(duration(a, value), hold);
        s.holdUs = hold.value_or(0);
    } else if (a == "--hysteresis") {
        const Result<RuleText::Quantity> q = RuleText::quantity(QString::fromStdString(value));
        if (!q || q.value().number < 0)
            error = "--hysteresis needs a number of 0 or more, with a unit or in the threshold's unit";
        else
            s.hysteresis = q.value();
    } else if (a == "--alarm") {
        s.alarms.push_back(QString::fromStdString(value));
    } else if (a == "--on-alarm") {
        rules->onAlarm = value;
    } else if (a == "--summary") {
        rules->summaryPath = value;
    } else if (a == "--every") {
        std::optional<int64_t> every;
        take(duration(a, value), every);
        if (every && *every <= 0) error = "--every needs a time longer than 0";
        s.summaryEveryUs = every;
    } else if (a == "--record-changes") {
        double percent = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), percent);
        if (ec != std::errc() || end != value.data() + value.size() || !(percent >= 0) ||
            !std::isfinite(percent))
            error = "--record-changes needs a percentage of 0 or more";
        else
            s.changePercent = percent;
    }
    return true;
}

std::string checkRuleOptions(const RuleOptions& rules, bool recording) {
    const RuleSettings& s = rules.settings;
    if (!rules.recordOnly.empty() && !recording) return rules.recordOnly + " needs --record FILE";
    if (!rules.onAlarm.empty() && s.alarms.empty()) return "--on-alarm needs --alarm";
    if (s.summaryEveryUs && rules.summaryPath.empty()) return "--every needs --summary FILE.csv";
    if (!rules.summaryPath.empty() && !s.summaryEveryUs) return "--summary needs --every SECONDS";
    if (s.startAtUs && s.stopAtUs && *s.stopAtUs <= *s.startAtUs) return "--stop-at is not after --start-at";
    if (s.preUs > 0 && !s.startAtUs && s.startWhen.isEmpty())
        return "--pre needs --start-at or --start-when: it keeps readings from before a start";
    // the conditions read one meter, "value"
    const Result<std::unique_ptr<RulesEngine>> engine =
        RulesEngine::create(s, {QStringLiteral("value")}, 0, {}, {});
    return engine ? std::string() : engine.error();
}

std::string ruleUsageText() {
    return "  --start-at YYYY-MM-DDTHH:MM:SS, --stop-at YYYY-MM-DDTHH:MM:SS\n"
           "                      (with --record) record from, and up to, that local time\n"
           "  --start-when EXPR, --stop-when EXPR\n"
           "                      (with --record) a segment starts when EXPR becomes true and\n"
           "                      ends when its stop holds: value > 1.5 V, abs(value) < 200 mA,\n"
           "                      value inside 1 .. 2 V, value outside 4 mA .. 20 mA\n"
           "  --for DURATION      (with --record) a segment ends after so long (90, 45s, 1h30m)\n"
           "  --rows N            (with --record) a segment ends after N rows\n"
           "  --pre SECONDS       (with a start rule) record the readings of so long before a start\n"
           "  --hysteresis X      a condition is left only X beyond its threshold (X in the\n"
           "                      threshold's unit, or with its own: 5 mV)\n"
           "  --hold SECONDS      a condition counts once it has held for so long\n"
           "  --alarm 'NAME: EXPR' an alarm, said on standard error when entered and left, and\n"
           "                      published retained under PREFIX/<client>/alarm/NAME; EXPR may\n"
           "                      also be 'no reading for SECONDS'; repeatable\n"
           "  --on-alarm PROGRAM  run PROGRAM (no shell) on entering and leaving an alarm, with\n"
           "                      DMM_ALARM, DMM_STATE, DMM_VALUE, DMM_UNIT, DMM_CHANNEL, DMM_TIME\n"
           "  --summary FILE.csv --every SECONDS\n"
           "                      a row per interval: count, minimum and maximum with their times,\n"
           "                      mean, standard deviation, last value, unit, overloads\n"
           "  --record-changes PERCENT\n"
           "                      (with --record) record a reading only when it differs from the\n"
           "                      last recorded one by more than PERCENT\n";
}
