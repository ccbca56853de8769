// The bench chart's strip store, its reduction to pixel columns, the strip scale and the shared
// time axis, driven without a window.
#include <QRandomGenerator>
#include <QtTest>
#include <cmath>

#include "BenchModel.h"
#include "BenchStripPoints.h"
#include "BenchStripScale.h"
#include "BenchStripTrace.h"
#include "BenchStrips.h"
#include "BenchTimeAxis.h"

namespace {

const double kGap = std::numeric_limits<double>::quiet_NaN();

void add(ChannelHistory& h, qint64 t, double v) {
    h.add(t, v);
}

// a history that keeps every reading, no coarser level
const std::vector<ChannelHistory::Level> kReadingsOnly = {{0, 0}};

// n points 100 ms apart from t0, random values, about one in 50 a gap
ChannelHistory randomHistory(int64_t n, int64_t t0, quint32 seed,
                             const std::vector<ChannelHistory::Level>& levels = kReadingsOnly) {
    ChannelHistory h(levels);
    QRandomGenerator random(seed);
    for (int64_t i = 0; i < n; ++i)
        add(h, t0 + i * 100, random.bounded(50) == 0 ? kGap : random.bounded(-6000, 6001));
    return h;
}

BenchStripPoints::Range bruteRange(const BenchStripPoints& p, int64_t a, int64_t b) {
    BenchStripPoints::Range r;
    for (int64_t i = std::max<int64_t>(a, 0); i < std::min(b, p.size()); ++i) {
        r.take(p.extremes(i));
    }
    return r;
}

}  // namespace

class TstBenchStrips : public QObject {
    Q_OBJECT

private slots:
    // Stretches on and off the 16, 256 and 4096 point blocks, over two catch-ups, into the open tail.
    void rangeMatchesEveryPoint_data() {
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::newRow("one point") << qint64(5) << qint64(6);
        QTest::newRow("inside a block") << qint64(3) << qint64(14);
        QTest::newRow("ragged ends") << qint64(7) << qint64(4099);
        QTest::newRow("block edges") << qint64(255) << qint64(65537);
        QTest::newRow("across a 16,384 block") << qint64(16380) << qint64(16390);
        QTest::newRow("everything and beyond") << qint64(-3) << qint64(90000);
        QTest::newRow("the unfinished tail") << qint64(69000) << qint64(70001);
    }
    void rangeMatchesEveryPoint() {
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        static const ChannelHistory history = randomHistory(70001, 1'700'000'000'000, 3);
        // taken in at two moments, the second ending in the middle of blocks
        static const BenchStripPoints points = [] {
            static const ChannelHistory part = randomHistory(40'007, 1'700'000'000'000, 3);
            BenchStripPoints p(&part);
            p.catchUp();
            p.setHistory(&history);
            p.catchUp();
            return p;
        }();
        const BenchStripPoints::Range got = points.range(first, last);
        const BenchStripPoints::Range want = bruteRange(points, first, last);
        QCOMPARE(got.min, want.min);
        QCOMPARE(got.max, want.max);
    }

    // A block that ends on a gap or holds nothing else has no value; points that came after the
    // last catch-up are not read; a history that was started again is read from its start.
    void gapsAndCatchingUp() {
        ChannelHistory h;
        BenchStripPoints p(&h);
        for (int i = 0; i < 15; ++i) add(h, i, i);
        add(h, 15, kGap);  // ends the first block of 16
        for (int i = 16; i < 32; ++i) add(h, i, kGap);
        for (int i = 32; i < 512; ++i) add(h, i, 7);
        p.catchUp();
        add(h, 600, 1000);
        QCOMPARE(p.size(), 512);
        QCOMPARE(p.range(0, 16).max, 14.0);
        QCOMPARE(p.range(0, 10'000).max, 14.0);
        QCOMPARE(p.range(0, 10'000).min, 0.0);
        QVERIFY(p.range(15, 32).empty());
        QCOMPARE(p.lowerBound(-5), 0);
        QCOMPARE(p.lowerBound(600), 512);
        p.catchUp();
        QCOMPARE(p.lowerBound(600), 512);
        QCOMPARE(p.range(0, p.size()).max, 1000.0);
        h = ChannelHistory();
        add(h, 5, -2);
        p.catchUp();
        QCOMPARE(p.size(), 1);
        QCOMPARE(p.range(0, 513).max, -2.0);
    }

    // A day at 10 readings a second over 900 columns, its last hour as readings and the rest in
    // buckets: a bar a column at most, each from the smallest to the largest value of the points
    // in that column's time, never across a gap.
    void reductionKeepsEachColumnsExtremes() {
        const int64_t t0 = 1'700'000'000'000;
        const ChannelHistory history = randomHistory(864'000, t0, 11, ChannelHistory::defaultLevels());
        BenchStripPoints points(&history);
        points.catchUp();
        const int columns = 900;
        const int64_t start = t0 + 3'600'000;
        const double msPerColumn = 22 * 3'600'000.0 / columns;
        const BenchStripTrace trace = BenchStripTrace::reduce(points, start, msPerColumn, columns);
        QCOMPARE(int(trace.bars.size()), columns);
        for (int c : {0, 1, 449, 899}) {
            const BenchStripTrace::Bar& bar = trace.bars[size_t(c)];
            QCOMPARE(bar.column, c);
            const int64_t a = points.lowerBound(start + int64_t(std::ceil(c * msPerColumn)));
            const int64_t b = points.lowerBound(start + int64_t(std::ceil((c + 1) * msPerColumn)));
            const BenchStripPoints::Range want = bruteRange(points, a, b);
            QCOMPARE(bar.min, want.min);
            QCOMPARE(bar.max, want.max);
        }
        QVERIFY(trace.joins.size() <= size_t(columns) + 1);
        for (const BenchStripTrace::Join& j : trace.joins) {
            QVERIFY(!std::isnan(j.y0) && !std::isnan(j.y1));
            QVERIFY(j.x1 > j.x0 || j.x1 == j.x0);
        }
    }

    // A reading a millisecond apart, values equal to their times: at a fractional number of
    // milliseconds a column, each column holds exactly the readings in [c, c + 1) columns' time.
    void fractionalColumns_data() {
        QTest::addColumn<double>("msPerColumn");
        QTest::addColumn<QString>("columns");  // each column's smallest and largest value
        QTest::newRow("2.5 ms") << 2.5 << "0-2 3-4 5-7 8-9";
        QTest::newRow("1.5 ms") << 1.5 << "0-1 2-2 3-4 5-5 6-7 8-8";
        QTest::newRow("3.25 ms") << 3.25 << "0-3 4-6 7-9";
    }
    void fractionalColumns() {
        QFETCH(double, msPerColumn);
        QFETCH(QString, columns);
        ChannelHistory h(kReadingsOnly);
        for (int t = 0; t <= 40; ++t) add(h, 1000 + t, t);
        BenchStripPoints p(&h);
        p.catchUp();
        const QStringList want = columns.split(' ');
        const BenchStripTrace trace = BenchStripTrace::reduce(p, 1000, msPerColumn, int(want.size()));
        QStringList got;
        for (const BenchStripTrace::Bar& bar : trace.bars)
            got << QStringLiteral("%1-%2").arg(bar.min).arg(bar.max);
        QCOMPARE(got, want);
    }

    // Zoomed in between readings, and readings around gaps.
    void reductionOfFewPoints() {
        ChannelHistory h;
        BenchStripPoints p(&h);
        add(h, 1000, 1);
        add(h, 5000, 3);  // the view [2000, 4000) holds no point: one line crosses it
        p.catchUp();
        BenchStripTrace t = BenchStripTrace::reduce(p, 2000, 20, 100);
        QVERIFY(t.bars.empty());
        QCOMPARE(t.joins.size(), size_t(1));
        QCOMPARE(t.joins[0].x0, -50.0);
        QCOMPARE(t.joins[0].x1, 150.0);
        QCOMPARE(t.range.min, 1.0);
        QCOMPARE(t.range.max, 3.0);

        add(h, 6000, kGap);
        add(h, 7000, 4);  // alone between two gaps: a dot, no line
        add(h, 8000, kGap);
        add(h, 9000, 5);
        p.catchUp();
        t = BenchStripTrace::reduce(p, 0, 100, 100);
        QCOMPARE(t.joins.size(), size_t(1));  // 1 → 3 only
        QCOMPARE(t.bars.size(), size_t(4));
        QCOMPARE(t.bars[2].column, 70);
        QCOMPARE(t.bars[2].min, 4.0);
        QCOMPARE(t.range.max, 5.0);
    }

    // The strips follow the model's channels, math ones included, and break where a meter went
    // stale; a strip whose channel stays keeps what it took in.
    void stripsFollowTheModel() {
        BenchModel model;
        const int u = model.addMeter(QStringLiteral("U"));
        const int i = model.addMeter(QStringLiteral("I"));
        QVERIFY(model.addMath(QStringLiteral("P"), QStringLiteral("U * I")).id >= 0);
        BenchStrips strips;
        strips.follow(model);
        const qint64 t0 = 1'780'000'000'000;
        for (int k = 0; k < 20; ++k) {
            BenchReading r;
            r.timeMs = t0 + k * 100;
            r.value = 12;
            r.unit = QStringLiteral("V");
            model.addReading(u, r);
            r.value = 0.5;
            r.unit = QStringLiteral("A");
            model.addReading(i, r);
        }
        model.checkStale(t0 + 60'000);
        strips.follow(model);  // the units are known now
        strips.catchUp();
        QCOMPARE(strips.size(), 3);
        QCOMPARE(strips.at(2).name, QStringLiteral("P"));
        QCOMPARE(strips.at(2).unit, QStringLiteral("W"));
        const BenchStripPoints& p = strips.at(2).points;
        QCOMPARE(p.range(0, p.size()).max, 6.0);
        QVERIFY(p.isGap(p.size() - 1));
        QVERIFY(strips.lastTime() > t0 + 1900);
        // the whole stretch and a second after the break: the last line ends on the last reading
        const BenchStripTrace t = BenchStripTrace::reduce(p, t0, 10, 400);
        QVERIFY(!t.joins.empty());
        for (const BenchStripTrace::Join& j : t.joins) QVERIFY(j.x1 <= 190.0);

        const int64_t taken = strips.at(0).points.size();
        model.removeChannel(i);  // P reads I: it goes too
        strips.follow(model);
        QCOMPARE(strips.size(), 1);
        QCOMPARE(strips.at(0).name, QStringLiteral("U"));
        QCOMPARE(strips.at(0).points.size(), taken);
    }

    void scale() {
        BenchStripPoints::Range r;
        r.take(12, 12);
        BenchStripScale s = BenchStripScale::fit(r);
        QVERIFY(s.low < 12 && s.high > 12);
        QCOMPARE(s.fraction(12), 0.5);
        QCOMPARE(s.label(12, QStringLiteral("V")), QStringLiteral("12.0000 V"));
        r.take(0.0005, 0.0005);
        s = BenchStripScale::fit(r);
        QVERIFY(s.fraction(0.0005) > 0 && s.fraction(12) < 1);
        BenchStripPoints::Range milli;
        milli.take(0.49, 0.51);
        s = BenchStripScale::fit(milli);
        QCOMPARE(s.label(0.5, QStringLiteral("A")), QStringLiteral("500.0 mA"));
        BenchStripPoints::Range zero;
        zero.take(0, 0);
        QCOMPARE(BenchStripScale::fit(zero).label(0, QStringLiteral("W")), QStringLiteral("0.00 W"));
    }

    // Following keeps the right edge on the newest reading, zooming keeps the moment under the
    // mouse in place, panning stops following, the span stays within its limits.
    void timeAxisFollowZoomPan() {
        BenchTimeAxis axis;
        axis.setLatest(100'000);
        QCOMPARE(axis.end(), 100'000);
        axis.zoom(0.5, 80'000);  // following: the right edge stays
        QCOMPARE(axis.end(), 100'000);
        QCOMPARE(axis.span(), 30'000);
        axis.pan(-10'000);
        QVERIFY(!axis.follows());
        QCOMPARE(axis.end(), 90'000);
        axis.setLatest(120'000);
        QCOMPARE(axis.end(), 90'000);
        axis.zoom(2, 75'000);  // halfway across stays halfway across
        QCOMPARE(axis.start(), 45'000);
        QCOMPARE(axis.end(), 105'000);
        axis.zoom(1e-6, 75'000);
        QCOMPARE(axis.span(), BenchTimeAxis::kMinSpanMs);
        axis.zoom(1e9, 75'000);
        QCOMPARE(axis.span(), BenchTimeAxis::kMaxSpanMs);
        axis.setFollow(true);
        QCOMPARE(axis.end(), 120'000);
        axis.show(20'000, 60'000);
        QVERIFY(!axis.follows());
        QCOMPARE(axis.start(), 20'000);
        axis.show(10'000, 120'000);
        QVERIFY(axis.follows());
    }

    // Ticks fall on round local times inside the view, far enough apart, labelled for their step.
    void timeAxisTicks_data() {
        QTest::addColumn<qint64>("span");
        QTest::addColumn<qint64>("step");
        QTest::addColumn<int>("labelLength");
        QTest::addColumn<QString>("spanText");
        QTest::newRow("a minute") << qint64(60'000) << qint64(10'000) << 8 << "1 min";
        QTest::newRow("an hour") << qint64(3'600'000) << qint64(600'000) << 5 << "1 h";
        QTest::newRow("a day and a half") << qint64(129'600'000) << qint64(6 * 3'600'000) << 5 << "1 d 12 h";
        QTest::newRow("a month") << qint64(30 * 86'400'000LL) << qint64(7 * 86'400'000LL) << 5 << "30 d";
    }
    void timeAxisTicks() {
        QFETCH(qint64, span);
        QFETCH(qint64, step);
        QFETCH(int, labelLength);
        QFETCH(QString, spanText);
        BenchTimeAxis axis;
        axis.setLatest(LocalClock::parseLocal("2026-03-14T15:09:26.535").value());
        axis.zoom(double(span) / double(axis.span()), axis.end());
        const auto ticks = axis.ticks(600, 90);
        QVERIFY(ticks.size() >= 3);
        LocalClock clock;
        for (size_t i = 0; i < ticks.size(); ++i) {
            QVERIFY(ticks[i].timeMs >= axis.start() && ticks[i].timeMs <= axis.end());
            QCOMPARE(ticks[i].label.size(), labelLength);
            if (i > 0) QCOMPARE(ticks[i].timeMs - ticks[i - 1].timeMs, step);
            if (step < 86'400'000) QCOMPARE(clock.at(ticks[i].timeMs).timeMs % step, 0);
        }
        QCOMPARE(BenchTimeAxis::spanText(span), spanText);
    }
};

QTEST_GUILESS_MAIN(TstBenchStrips)
#include "tst_bench_strips.moc"
