#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "BenchExpression.h"
#include "BenchModel.h"
#include "BenchRecorder.h"
#include "BenchSession.h"
#include "BenchUnits.h"

namespace {

BenchReading reading(qint64 t, double value, const QString& unit) {
    BenchReading r;
    r.timeMs = t;
    r.value = value;
    r.unit = unit;
    return r;
}

}  // namespace

class BenchModelTest : public QObject {
    Q_OBJECT
private slots:
    void refusedExpressionsSayWhere_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("error");
        QTest::newRow("open parenthesis") << "U * (I" << 6 << "')' expected";
        QTest::newRow("missing operand") << "U * " << 4 << "value expected";
        QTest::newRow("two operators") << "U +* I" << 3 << "unexpected '*'";
        QTest::newRow("unknown channel") << "U * Z" << 4 << "no channel named 'Z'";
        QTest::newRow("unknown function") << "log(U)" << 0 << "unknown function 'log'";
        QTest::newRow("no operator") << "U I" << 2 << "operator expected";
        QTest::newRow("stray close") << "U)" << 1 << "')' without its '('";
        QTest::newRow("open function") << "abs(U" << 5 << "')' expected";
        QTest::newRow("open bracket name") << "[U" << 0 << "']' expected";
        QTest::newRow("empty") << "" << 0 << "value expected";
        QTest::newRow("reads itself") << "U * [P]" << 4 << "'P' cannot read itself";
        QTest::newRow("too long") << "U" + QString(" + I").repeated(250) << 1000
                                  << "longer than 1000 characters";
        QTest::newRow("too deep") << QString("(").repeated(50) + "U" + QString(")").repeated(50) << 40
                                  << "nested more than 40 deep";
        QTest::newRow("minus signs") << QString("-").repeated(30000) + "U" << 1000
                                     << "longer than 1000 characters";
        QTest::newRow("signs and functions deep")
            << QString("-abs(").repeated(21) + "U" + QString(")").repeated(21) << 100
            << "nested more than 40 deep";
    }
    void refusedExpressionsSayWhere() {
        QFETCH(QString, expression);
        QFETCH(int, position);
        QFETCH(QString, error);
        BenchModel model;
        model.addMeter("U");
        model.addMeter("I");
        const BenchModel::MathAdded added = model.addMath("P", expression);
        QCOMPARE(added.id, -1);
        QCOMPARE(added.error, error);
        QCOMPARE(added.position, position);
        QCOMPARE(model.channelIds().size(), 2);
    }

    // Inputs enter in base units, results carry the derived unit; a number takes the unit it meets.
    void mathValuesAndUnits_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("unit");
        QTest::newRow("power") << "U * I" << 0.03 << "W";
        QTest::newRow("resistance") << "U / I" << 4800.0 << "\u03A9";
        QTest::newRow("square") << "U * U" << 144.0 << "V\u00B2";
        QTest::newRow("offset") << "(U - 2) * 2" << 20.0 << "V";
        QTest::newRow("precedence") << "-U + 2 * 3" << -6.0 << "V";
        QTest::newRow("root") << "sqrt(U * U)" << 12.0 << "V";
        QTest::newRow("abs") << "abs(0 - I)" << 0.0025 << "A";
        QTest::newRow("named meter") << "[M-1] / I" << 400.0 << "\u03A9";
        QTest::newRow("ratio") << "U / U" << 1.0 << "";
    }
    void mathValuesAndUnits() {
        QFETCH(QString, expression);
        QFETCH(double, value);
        QFETCH(QString, unit);
        BenchModel model;
        const int u = model.addMeter("U"), i = model.addMeter("I"), m = model.addMeter("M-1");
        const int p = model.addMath("P", expression).id;
        QVERIFY(p > 0);
        model.addReading(m, reading(1000, 1, "V"));
        model.addReading(u, reading(1000, 12, "V"));
        BenchReading current = reading(1000, BenchUnits::splitPrefix("mA").toBase(2.5), "A");
        QCOMPARE(current.value, 0.0025);
        model.addReading(i, current);
        QVERIFY(model.latest(p)->hasValue());
        QVERIFY(std::fabs(model.latest(p)->value - value) < 1e-12);
        QCOMPARE(model.latest(p)->unit, unit);
    }

    // Never a product of an old value: a stale, overloaded or offline input, or units that cannot
    // be added, give a gap; the next good reading gives a value again.
    void mathGapsFromUnusableInputs() {
        BenchModel model;
        const int u = model.addMeter("U"), i = model.addMeter("I");
        const int p = model.addMath("P", "U * I").id, s = model.addMath("S", "U + I").id;
        model.addReading(u, reading(0, 12, "V"));
        model.addReading(i, reading(0, 0.5, "A"));
        QCOMPARE(model.latest(p)->value, 6.0);
        QVERIFY(model.latest(s)->isGap());
        model.addReading(u, reading(1501, 12, "V"));  // I last heard 1.501 s ago
        QVERIFY(model.latest(p)->isGap());
        QCOMPARE(model.latest(p)->unit, QString("W"));
        model.addReading(i, reading(1600, 0.5, "A"));
        QCOMPARE(model.latest(p)->value, 6.0);
        BenchReading overload = reading(1700, NAN, "V");
        overload.overload = true;
        model.addReading(u, overload);
        QVERIFY(model.latest(p)->isGap());
        model.addReading(u, reading(1800, 12, "V"));
        model.setOnline(i, false);
        QVERIFY(!model.isOnline(p));
        model.addReading(u, reading(1900, 12, "V"));
        QVERIFY(model.latest(p)->isGap());
    }

    // The trapezoid over the readings' own times, in hours; a stretch without a value is left out.
    void integralInHours() {
        BenchModel model;
        const int u = model.addMeter("U"), i = model.addMeter("I");
        const int p = model.addMath("P", "U * I").id;
        const int e = model.addMath("E", "integral(P)").id;
        const int q = model.addMath("Q", "integral(I)").id;
        for (qint64 t = 0; t <= 10000; t += 500) {
            model.addReading(u, reading(t, 12, "V"));
            model.addReading(i, reading(t, 0.5, "A"));
        }
        QVERIFY(std::fabs(model.latest(e)->value - 6.0 * 10 / 3600) < 1e-12);
        QCOMPARE(model.latest(e)->unit, QString("Wh"));
        QCOMPARE(model.latest(q)->unit, QString("Ah"));
        QCOMPARE(model.latest(e)->display, QString("16.67 mWh"));
        // I silent for 5 s: its value holds until it is stale (1.5 s), then U's readings give gaps,
        // and the silent stretch adds nothing
        for (qint64 t = 10500; t <= 15000; t += 500) model.addReading(u, reading(t, 12, "V"));
        QVERIFY(model.latest(e)->isGap());
        model.addReading(i, reading(15000, 0.5, "A"));
        model.addReading(i, reading(16000, 0.5, "A"));
        QVERIFY(std::fabs(model.latest(e)->value - 6.0 * 12.5 / 3600) < 1e-12);
        model.resetStatistics(e);
        model.addReading(u, reading(17000, 12, "V"));
        QCOMPARE(model.latest(e)->value, 0.0);
        // P's gaps are not counted: U before any current, and U's seven from 12 s to 15 s
        QCOMPARE(model.statistics(p).count, model.readingCount(p) - 8);
    }

    // Just inside the limits an expression is taken and computed.
    void expressionsAtTheLimits() {
        BenchModel model;
        const int u = model.addMeter("U");
        const int deep = model.addMath("D", QString("(").repeated(39) + "U" + QString(")").repeated(39)).id;
        const int longest = model.addMath("L", "U" + QString("+U").repeated(499)).id;
        QVERIFY(deep > 0 && longest > 0);
        model.addReading(u, reading(0, 2, "V"));
        QCOMPARE(model.latest(deep)->value, 2.0);
        QCOMPARE(model.latest(longest)->value, 1000.0);
    }

    // Kept math channels wait for one another, but never in a loop: the one that closes it is
    // refused with the names around it.
    void mathLoopsRefusedWithTheirNames() {
        BenchModel model;
        BenchSession session(model);
        model.addMeter("U");
        BenchSettings kept;
        kept.maths = {{"A", "B + 1"}, {"B", "C * 2"}, {"C", "A - U"}, {"X", "X + U"}, {"D", "E"}, {"E", "U"}};
        QStringList errors;
        session.restoreMaths(kept, &errors);
        QCOMPARE(errors, QStringList({"C=A - U: the channels read each other: C \u2192 A \u2192 B \u2192 C",
                                      "X=X + U: 'X' cannot read itself"}));
        QCOMPARE(session.waitingMaths(), QStringList({"A=B + 1", "B=C * 2"}));
        QVERIFY(model.channelId("D") > 0 && model.channelId("E") > 0);  // D waited for E
    }

    // A math channel is online once every input has been: never before its inputs.
    void mathOnlineWithItsInputs() {
        BenchModel model;
        const int u = model.addMeter("U"), i = model.addMeter("I");
        model.setOnline(u, true);
        const int p = model.addMath("P", "U * I").id;
        const int c = model.addMath("C", "U * 2").id;
        QVERIFY(!model.isOnline(p));
        QVERIFY(model.isOnline(c));
        model.addReading(i, reading(0, 1, "A"));
        QVERIFY(model.isOnline(p));
    }

    // 12 V against a current rising from 0 to 1 A in 10 s: a trapezoid, not the rectangles of the
    // first or the last value of each step, gives 12 * 0.5 * 10 / 3600 Wh.
    void integralOfARamp() {
        BenchModel model;
        const int u = model.addMeter("U"), i = model.addMeter("I");
        const int e = model.addMath("E", "integral(U * I)").id;
        for (qint64 t = 0; t <= 10000; t += 500) {
            model.addReading(i, reading(t, double(t) / 10000, "A"));
            model.addReading(u, reading(t, 12, "V"));
        }
        QVERIFY2(std::fabs(model.latest(e)->value - 12 * 0.5 * 10 / 3600) < 1e-12,
                 qPrintable(QString::number(model.latest(e)->value * 3600, 'g', 12)));
    }

    // Numbers, gaps and overloads are counted apart; a change of unit starts the statistics again
    // and says from which unit, until a reset.
    void countsApartAndUnitChange() {
        BenchModel model;
        const int u = model.addMeter("U");
        BenchReading overload = reading(100, NAN, "V");
        overload.overload = true;
        model.addReading(u, reading(0, 1, "V"));
        model.addReading(u, overload);
        model.addReading(u, reading(200, NAN, "V"));
        model.addReading(u, reading(300, 3, "V"));
        ChannelStats s = model.statistics(u);
        QCOMPARE(s.count, uint64_t(2));
        QCOMPARE(s.overloads, uint64_t(1));
        QCOMPARE(s.gaps, uint64_t(1));
        QCOMPARE(s.mean, 2.0);
        QVERIFY(model.statisticsUnitBefore(u).isEmpty());
        model.addReading(u, reading(400, 0.5, "A"));
        s = model.statistics(u);
        QCOMPARE(s.count, uint64_t(1));
        QCOMPARE(s.overloads + s.gaps, uint64_t(0));
        QCOMPARE(s.min, 0.5);
        QCOMPARE(model.statisticsUnitBefore(u), QString("V"));
        model.resetStatistics(u);
        QVERIFY(model.statisticsUnitBefore(u).isEmpty());
    }

    // A ramp far from zero, where the sum-of-squares formula loses every digit.
    void statisticsRelAndReset() {
        BenchModel model;
        const int u = model.addMeter("U");
        QSignalSpy resets(&model, &BenchModel::statisticsReset);
        const double base = 1e9;
        for (int k = 0; k < 1001; ++k) model.addReading(u, reading(k * 100, base + k * 0.001, "V"));
        const ChannelStats s = model.statistics(u);
        QCOMPARE(s.count, uint64_t(1001));
        QVERIFY2(std::fabs(s.mean - (base + 0.5)) < 1e-6,
                 qPrintable(QString::number(s.mean - base, 'g', 17)));
        // sample standard deviation of 0, 0.001, ... 1.000: sqrt(n (n + 1) / 12) steps
        QVERIFY(std::fabs(s.stddev - 0.001 * std::sqrt(1001.0 * 1002 / 12)) < 1e-6);
        QCOMPARE(s.min, base);
        QCOMPARE(s.max, base + 1);
        model.captureRel(u);
        model.addReading(u, reading(200000, base + 1.5, "V"));
        QVERIFY(std::fabs(*model.relValue(u) - 0.5) < 1e-6);
        model.resetAllStatistics();
        QCOMPARE(model.statistics(u).count, uint64_t(0));
        QVERIFY(model.relReference(u));  // REL is kept apart from the statistics
        // another function on the meter starts both afresh
        model.addReading(u, reading(200100, 0.01, "A"));
        QCOMPARE(model.statistics(u).count, uint64_t(1));
        QVERIFY(!model.relReference(u));
        QCOMPARE(resets.size(), 2);
    }

    void staleAfterThreeTimesItsPace() {
        BenchModel model;
        const int fast = model.addMeter("F"), slow = model.addMeter("S");
        for (qint64 t = 0; t <= 2000; t += 100) model.addReading(fast, reading(t, 1, "V"));
        for (qint64 t = 0; t <= 8000; t += 2000) model.addReading(slow, reading(t, 1, "V"));
        QCOMPARE(model.staleAfterMs(fast), qint64(1500));
        QCOMPARE(model.staleAfterMs(slow), qint64(6000));
        QSignalSpy stale(&model, &BenchModel::staleChanged);
        model.checkStale(3500);
        QVERIFY(!model.isStale(fast));
        model.checkStale(3501);
        QVERIFY(model.isStale(fast) && !model.isStale(slow));
        model.checkStale(14001);
        QVERIFY(model.isStale(slow));
        QCOMPARE(stale.size(), 2);
        // the line of a stale channel breaks; the next reading mends it
        QVERIFY(std::isnan(model.history(fast).lastValue()));
        model.addReading(fast, reading(4000, 1, "V"));
        QVERIFY(!model.isStale(fast));
        QCOMPARE(stale.size(), 3);
    }

    // One long gap does not make a meter trusted for minutes: the median of its latest intervals
    // stays its pace, so after a 10-minute gap and readings at its 2 s pace again it is stale 6 s
    // after its last reading, and a math channel stops using it then too.
    void staleAgainSoonAfterALongGap() {
        BenchModel model;
        const int u = model.addMeter("U"), i = model.addMeter("I");
        const int p = model.addMath("P", "U * I").id;
        qint64 t = 0;
        for (int k = 0; k < 5; ++k) model.addReading(i, reading(t += 2000, 0.5, "A"));
        t += 10 * 60 * 1000;
        for (int k = 0; k < 3; ++k) model.addReading(i, reading(t += 2000, 0.5, "A"));
        const qint64 last = t;
        QCOMPARE(model.staleAfterMs(i), qint64(6000));
        model.addReading(u, reading(last + 6000, 12, "V"));
        QCOMPARE(model.latest(p)->value, 6.0);
        model.checkStale(last + 6000);
        QVERIFY(!model.isStale(i));
        model.checkStale(last + 6001);
        QVERIFY(model.isStale(i));
        model.addReading(u, reading(last + 6001, 12, "V"));
        QVERIFY(model.latest(p)->isGap());
    }

    // Math channels go with the channel they read.
    void removingAnInputRemovesItsMath() {
        BenchModel model;
        const int u = model.addMeter("U");
        model.addMeter("I");
        model.addMath("P", "U * I");
        model.addMath("E", "integral(P)");
        QVERIFY(model.addMeter("P") < 0);
        QVERIFY(!model.addMath("abs", "U").error.isEmpty());
        model.removeChannel(u);
        QCOMPARE(model.channelIds().size(), 1);
        QCOMPARE(model.channel(model.channelIds().front())->name, QString("I"));
    }

    void siFormatting_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("text");
        QTest::newRow("watts") << 6.0 << "W"
                               << "6.000 W";
        QTest::newRow("milli") << 0.0166667 << "Wh"
                               << "16.67 mWh";
        QTest::newRow("kilo") << 1234.6 << "\u03A9"
                              << "1.235 k\u03A9";
        QTest::newRow("rounds up a prefix") << 0.99996 << "A"
                                            << "1.000 A";
        QTest::newRow("negative micro") << -2.5e-6 << "A"
                                        << "-2.500 \u00B5A";
        QTest::newRow("zero") << 0.0 << "V"
                              << "0.000 V";
        QTest::newRow("no prefix for degrees") << 1500.0 << "\u00B0C"
                                               << "1500 \u00B0C";
        QTest::newRow("gap") << double(NAN) << "W"
                             << "--";
    }
    void siFormatting() {
        QFETCH(double, value);
        QFETCH(QString, unit);
        QFETCH(QString, text);
        QCOMPARE(BenchUnits::formatSi(value, unit), text);
    }

    // Long form as it is read, and one row per step with each channel's last value at that moment.
    void longAndAlignedCsv() {
        QTemporaryDir dir;
        BenchModel model;
        BenchRecorder recorder(model, dir.filePath("long.csv"));
        QVERIFY(recorder.start());
        const int u = model.addMeter("U, left"), i = model.addMeter("I");
        model.addMath("P", "[U, left] * I");
        const qint64 t0 = 1765000000000;  // a whole second
        BenchReading v = reading(t0 + 200, 12, "V");
        v.display = "12.00 V";
        v.acdc = "DC";
        v.range = "AUTO";
        model.addReading(u, v);
        model.addReading(i, reading(t0 + 900, 0.0005, "A"));
        model.addReading(u, reading(t0 + 3000, 11, "V"));  // I is stale by then
        QVERIFY(recorder.finish());
        QFile file(dir.filePath("long.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 8);  // header, six rows, and the empty piece after the last CR LF
        QCOMPARE(lines[0], QByteArray("Date and time,Channel,Number,Unit,Value,AC/DC,AUTO/MANU\r"));
        QVERIFY2(lines[1].endsWith(",\"U, left\",12,V,12.00 V,DC,AUTO\r"), lines[1]);
        QVERIFY2(lines[2].endsWith(",P,,,,,\r"), lines[2]);  // no current yet: a gap
        QVERIFY2(lines[4].endsWith(",P,0.006,W,,,\r"), lines[4]);
        QVERIFY2(lines[3].contains(",I,0.0005,A,"), lines[3]);

        QVERIFY(writeAlignedCsv(model, dir.filePath("aligned.csv"), 1000));
        QFile aligned(dir.filePath("aligned.csv"));
        QVERIFY(aligned.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = aligned.readAll().split('\n');
        QCOMPARE(rows[0], QByteArray("Date and time,\"U, left (V)\",I (A),P (W)\r"));
        QCOMPARE(rows.size(), 5);  // t0 + 1 s to + 3 s, from the first reading to the last
        QVERIFY2(rows[1].endsWith(",12,0.0005,0.006\r"), rows[1]);
        QVERIFY2(rows[2].endsWith(",12,0.0005,0.006\r"), rows[2]);
        QVERIFY2(rows[3].endsWith(",11,0.0005,\r"), rows[3]);
    }
};

QTEST_MAIN(BenchModelTest)
#include "tst_bench_model.moc"
