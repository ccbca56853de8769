#include <QtTest>
#include <cmath>
#include <vector>

#include "RulesEngine.h"

namespace {

constexpr int64_t kSecond = 1000000;

MeterReading reading(double seconds, double value, const std::string& unit = "V") {
    MeterReading r;
    r.utcUs = 1'800'000'000'000'000 + int64_t(std::llround(seconds * kSecond));
    r.value = r.baseValue = value;
    r.unit = r.baseUnit = unit;
    r.overload = std::isnan(value);
    return r;
}

double secondsOf(int64_t utcUs) {
    return double(utcUs - 1'800'000'000'000'000) / kSecond;
}

// Everything an engine gives, and the clock it reads.
struct Run {
    std::vector<std::pair<double, std::string>> rows;  // value, note
    std::vector<double> rowTimes;
    std::vector<AlarmEvent> alarms;
    std::vector<SummaryRow> summaries;
    std::vector<SegmentEvent> segments;
    int64_t nowUs = 1'800'000'000'000'000;
    std::unique_ptr<RulesEngine> engine;
    std::string error;

    explicit Run(const RuleSettings& settings, std::vector<QString> channels = {"M"}) {
        RulesEngine::Output out;
        out.record = [this](int, const MeterReading& r, const std::string& note) {
            rows.emplace_back(r.value, note);
            rowTimes.push_back(secondsOf(r.utcUs));
        };
        out.alarm = [this](const AlarmEvent& e) { alarms.push_back(e); };
        out.summary = [this](const SummaryRow& r) { summaries.push_back(r); };
        out.segment = [this](const SegmentEvent& e) { segments.push_back(e); };
        auto made = RulesEngine::create(
            settings, channels, 0, [this] { return nowUs; }, out);
        if (made)
            engine = std::move(made.value());
        else
            error = made.error();
    }
    // Readings of `values` every `step` seconds from `from`; the clock follows them.
    void feed(const std::vector<double>& values, double step = 0.1, double from = 0) {
        for (size_t i = 0; i < values.size(); ++i) {
            const MeterReading r = reading(from + double(i) * step, values[i]);
            nowUs = r.utcUs;
            engine->offer(0, r);
        }
    }
    int entries() const {
        return int(
            std::count_if(alarms.begin(), alarms.end(), [](const AlarmEvent& e) { return e.entered; }));
    }
};

// A value that rises through 1 and falls back through it, with noise of ±0.04 riding on it.
std::vector<double> noisyHump() {
    std::vector<double> v;
    for (int i = 0; i < 200; ++i) {
        const double base = i < 100 ? 0.8 + 0.004 * i : 1.2 - 0.004 * (i - 100);
        v.push_back(base + (i % 2 ? 0.04 : -0.04));
    }
    return v;
}

RuleSettings alarmOnly(const QString& alarm, double hysteresis = 0, double holdSeconds = 0) {
    RuleSettings s;
    s.alarms = {alarm};
    if (hysteresis > 0) s.hysteresis = RuleText::Quantity{hysteresis, {}};
    s.holdUs = int64_t(holdSeconds * kSecond);
    return s;
}

}  // namespace

class RulesEngineTest : public QObject {
    Q_OBJECT
private slots:
    // Thresholds compare in base units; a threshold in another unit never holds.
    void conditionsCompareInBaseUnits_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<bool>("holds");
        QTest::newRow("above, volts") << "value > 1.5 V" << 1.6 << "V" << true;
        QTest::newRow("above, at the threshold") << "value > 1.5" << 1.5 << "V" << false;
        QTest::newRow("at least, at the threshold") << "value >= 1.5" << 1.5 << "V" << true;
        QTest::newRow("milliamps below") << "value < 200 mA" << 0.15 << "A" << true;
        QTest::newRow("milliamps not below") << "value < 200 mA" << 0.25 << "A" << false;
        QTest::newRow("no expression") << "> 60 °C" << 61.0 << "°C" << true;
        QTest::newRow("function") << "abs(value) < 0.1" << -0.05 << "V" << true;
        QTest::newRow("inside, unit once") << "value inside 1 .. 2 V" << 1.5 << "V" << true;
        QTest::newRow("inside, beyond") << "value inside 1 .. 2 V" << 2.5 << "V" << false;
        QTest::newRow("outside, milliamps") << "value outside 4 mA .. 20 mA" << 0.003 << "A" << true;
        QTest::newRow("outside, within") << "value outside 4 mA .. 20 mA" << 0.010 << "A" << false;
        QTest::newRow("another unit") << "value > 1 A" << 5.0 << "V" << false;
        QTest::newRow("kilo") << "value > 1 kΩ" << 1500.0 << "Ω" << true;
    }
    void conditionsCompareInBaseUnits() {
        QFETCH(QString, condition);
        QFETCH(double, value);
        QFETCH(QString, unit);
        QFETCH(bool, holds);
        Run run(alarmOnly("a: " + condition));
        QVERIFY2(run.engine, run.error.c_str());
        run.engine->offer(0, reading(0, value, unit.toStdString()));
        QCOMPARE(run.entries(), holds ? 1 : 0);
    }

    void faultyRulesAreRefused_data() {
        QTest::addColumn<QString>("alarm");
        QTest::addColumn<QString>("error");
        QTest::newRow("no comparison") << "a: value 1.5"
                                       << "a comparison is expected";
        QTest::newRow("no number") << "a: value > volts"
                                   << "a number is expected";
        QTest::newRow("unknown channel") << "a: U > 1"
                                         << "no channel named 'U'";
        QTest::newRow("band high to low") << "a: value inside 2 .. 1"
                                          << "high to low";
        QTest::newRow("band in two units") << "a: value inside 1 V .. 2 A"
                                           << "different units";
        QTest::newRow("no name") << "value > 1"
                                 << "'name: condition'";
        QTest::newRow("silence without time") << "a: no reading for soon"
                                              << "not a duration";
    }
    void faultyRulesAreRefused() {
        QFETCH(QString, alarm);
        QFETCH(QString, error);
        Run run(alarmOnly(alarm));
        QVERIFY(!run.engine);
        QVERIFY2(QString::fromStdString(run.error).contains(error), run.error.c_str());
    }

    // A noisy value crossing a threshold: with enough hysteresis (or hold time) the alarm is
    // entered and left once; without, it chatters.
    void hysteresisAndHoldStopChatter_data() {
        QTest::addColumn<double>("hysteresis");
        QTest::addColumn<double>("hold");
        QTest::addColumn<int>("entries");
        QTest::newRow("neither: chatters") << 0.0 << 0.0 << 21;
        QTest::newRow("hysteresis wider than the noise") << 0.1 << 0.0 << 1;
        QTest::newRow("hysteresis narrower than the noise") << 0.05 << 0.0 << 7;
        QTest::newRow("hold longer than a dip") << 0.0 << 0.3 << 1;
    }
    void hysteresisAndHoldStopChatter() {
        QFETCH(double, hysteresis);
        QFETCH(double, hold);
        QFETCH(int, entries);
        Run run(alarmOnly("hot: value > 1", hysteresis, hold));
        run.feed(noisyHump());
        QCOMPARE(run.entries(), entries);
        QCOMPARE(int(run.alarms.size()), 2 * entries);
        // entered and left by turns, never twice in a row
        for (size_t i = 0; i < run.alarms.size(); ++i) QCOMPARE(run.alarms[i].entered, i % 2 == 0);
    }

    // The hold time counts from the reading the condition first held at, and may run out between
    // readings; a value that leaves before then enters nothing.
    void holdTimeCountsFromTheFirstReading() {
        Run run(alarmOnly("hot: value > 1", 0, 1.0));
        run.feed({2, 2, 2, 2, 2, 0.5}, 0.1);  // half a second above: not enough
        QCOMPARE(run.entries(), 0);
        run.feed({2}, 0.1, 1.0);
        run.nowUs += kSecond / 2;
        run.engine->tick();
        QCOMPARE(run.entries(), 0);
        run.nowUs += kSecond / 2;
        run.engine->tick();
        QCOMPARE(run.entries(), 1);
        QCOMPARE(secondsOf(run.alarms[0].utcUs), 2.0);
        QCOMPARE(run.alarms[0].value, 2.0);
    }

    // The readings of the pre-trigger time before the start, and the start's own, in order.
    void preTriggerRowsComeFirstInOrder_data() {
        QTest::addColumn<double>("pre");
        QTest::addColumn<double>("firstRow");
        QTest::newRow("none") << 0.0 << 1.1;
        QTest::newRow("half a second") << 0.5 << 0.6;
        QTest::newRow("more than was read") << 5.0 << 0.0;
    }
    void preTriggerRowsComeFirstInOrder() {
        QFETCH(double, pre);
        QFETCH(double, firstRow);
        RuleSettings s;
        s.startWhen = "value > 1";
        s.preUs = int64_t(pre * kSecond);
        Run run(s);
        std::vector<double> ramp;
        for (int i = 0; i <= 20; ++i) ramp.push_back(i * 0.1);  // 1.1 at 1.1 s first passes 1
        run.feed(ramp, 0.1);
        QVERIFY(!run.rowTimes.empty());
        QCOMPARE(run.rowTimes.front(), firstRow);
        QCOMPARE(run.rowTimes.back(), 2.0);
        // every reading from the first row on, each once, in order
        QCOMPARE(int(run.rowTimes.size()), int(std::llround((2.0 - firstRow) / 0.1)) + 1);
        for (size_t i = 1; i < run.rowTimes.size(); ++i) QVERIFY(run.rowTimes[i] > run.rowTimes[i - 1]);
        QCOMPARE(run.rows.front().second, std::string("segment 1: value > 1"));
    }

    // Each way of stopping ends the segment at its row, and with no start condition the run.
    void stopRulesEndTheSegment_data() {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("why");
        QTest::newRow("rows") << "rows 5" << 5 << "after 5 rows";
        QTest::newRow("duration") << "for 1.5" << 15 << "after 1.5 s";
        QTest::newRow("stop time") << "at 0.75" << 8 << "stop time";
        QTest::newRow("condition, its reading kept") << "when value > 1.25" << 14 << "value > 1.25";
    }
    void stopRulesEndTheSegment() {
        QFETCH(QString, rule);
        QFETCH(int, rows);
        QFETCH(QString, why);
        RuleSettings s;
        const double n = rule.section(' ', 1).toDouble();
        if (rule.startsWith("rows")) s.rows = int64_t(n);
        if (rule.startsWith("for")) s.forUs = int64_t(n * kSecond);
        if (rule.startsWith("at")) s.stopAtUs = reading(n, 0).utcUs;
        if (rule.startsWith("when")) s.stopWhen = rule.mid(5);
        Run run(s);
        std::vector<double> ramp;
        for (int i = 0; i < 40; ++i) ramp.push_back(i * 0.1);
        run.feed(ramp, 0.1);
        QCOMPARE(int(run.rows.size()), rows);
        QVERIFY(run.engine->done());
        QCOMPARE(int(run.segments.size()), 2);
        QCOMPARE(QString::fromStdString(run.segments[1].why), why);
    }

    // A sawtooth starts and stops three segments; each first row carries its mark.
    void startAndStopMakeSegments() {
        RuleSettings s;
        s.startWhen = "value > 1";
        s.stopWhen = "value > 2";
        Run run(s);
        for (int tooth = 0; tooth < 3; ++tooth) {
            std::vector<double> v;
            for (int i = 0; i < 30; ++i) v.push_back(i * 0.1 + 0.05);
            run.feed(v, 0.1, tooth * 3.0);
        }
        QCOMPARE(run.engine->segments(), 3);
        QCOMPARE(int(run.rows.size()), 3 * 11);  // 1.05 .. 2.05 of each tooth
        int marks = 0;
        for (size_t i = 0; i < run.rows.size(); ++i) {
            if (run.rows[i].second.empty()) continue;
            ++marks;
            QCOMPARE(i % 11, size_t(0));
            QCOMPARE(run.rows[i].second, "segment " + std::to_string(i / 11 + 1) + ": value > 1");
        }
        QCOMPARE(marks, 3);
        QVERIFY(!run.engine->done());
    }

    // Missing readings are an alarm entered once when the time has passed and left by the next
    // reading.
    void missingReadingsAlarm() {
        Run run(alarmOnly("quiet: no reading for 5 s"));
        run.feed({1, 1, 1}, 1.0);
        for (int i = 0; i < 10; ++i) {
            run.nowUs += kSecond;
            run.engine->tick();
        }
        run.feed({1}, 1.0, 20.0);
        QCOMPARE(int(run.alarms.size()), 2);
        QVERIFY(run.alarms[0].entered);
        QCOMPARE(secondsOf(run.alarms[0].utcUs), 7.0);  // the last reading at 2 s, 5 s later
        QVERIFY(!run.alarms[1].entered);
        QCOMPARE(secondsOf(run.alarms[1].utcUs), 20.0);
    }

    // Event rows: only changes beyond the share are recorded, each saying what it skipped.
    void changesBeyondTheShareAreRecorded() {
        RuleSettings s;
        s.changePercent = 10;
        Run run(s);
        run.feed({1.0, 1.05, 1.09, 1.2, 1.2, 1.2, 0.0, 0.0, 0.01});
        const std::vector<std::pair<double, std::string>> expected = {{1.0, ""},
                                                                      {1.2, "2 readings skipped"},
                                                                      {0.0, "2 readings skipped"},
                                                                      {0.01, "1 readings skipped"}};
        QCOMPARE(run.rows, expected);
        QCOMPARE(run.engine->skipped(), 5);
    }

    // Summaries of a known sequence, with the values worked out by hand: the first minimum and
    // maximum keep their times, the deviation is the sample's, an overload is counted apart, and
    // the interval the end of the run cuts short is marked.
    void summariesOfAKnownSequence() {
        RuleSettings s;
        s.summaryEveryUs = kSecond;
        Run run(s);
        const double nan = MeterReading::kNoNumber;
        const std::vector<std::pair<double, double>> readings = {{0.0, 3}, {0.3, 1},   {0.5, 4}, {0.9, 1},
                                                                 {1.2, 5}, {1.4, nan}, {1.6, 9}};
        for (const auto& [t, v] : readings) {
            run.nowUs = reading(t, v).utcUs;
            run.engine->offer(0, reading(t, v));
        }
        run.nowUs = reading(1.8, 0).utcUs;
        run.engine->finish();
        QCOMPARE(int(run.summaries.size()), 2);
        struct Expected {
            double start, end;
            int64_t count, overloads;
            double min, minAt, max, maxAt, mean, deviation, last;
            bool partial;
        };
        const Expected expected[] = {
            {0.0, 1.0, 4, 0, 1, 0.3, 4, 0.5, 2.25, 1.5, 1, false},
            {1.0, 1.8, 2, 1, 5, 1.2, 9, 1.6, 7, std::sqrt(8.0), 9, true},
        };
        for (int i = 0; i < 2; ++i) {
            const SummaryRow& r = run.summaries[size_t(i)];
            const Expected& e = expected[i];
            QCOMPARE(secondsOf(r.startUs), e.start);
            QCOMPARE(secondsOf(r.endUs), e.end);
            QCOMPARE(r.count, e.count);
            QCOMPARE(r.overloads, e.overloads);
            QCOMPARE(r.minimum, e.min);
            QCOMPARE(secondsOf(r.minimumUs), e.minAt);
            QCOMPARE(r.maximum, e.max);
            QCOMPARE(secondsOf(r.maximumUs), e.maxAt);
            QCOMPARE(r.mean, e.mean);
            QVERIFY(std::fabs(r.deviation - e.deviation) < 1e-12);
            QCOMPARE(r.last, e.last);
            QCOMPARE(r.partial, e.partial);
            QCOMPARE(r.unit, std::string("V"));
        }
        const std::string line = IntervalSummary::csvLine(run.summaries[1]);
        QVERIFY2(QString::fromStdString(line).contains(",2,5,") &&
                     line.find(",V,1,partial\r\n") != std::string::npos,
                 line.c_str());
    }
};

QTEST_GUILESS_MAIN(RulesEngineTest)
#include "tst_rules_engine.moc"
