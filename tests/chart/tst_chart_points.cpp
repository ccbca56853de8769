// The chart's point store: ranges from the block summary and the page handed to the chart.
#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>

#include "ChartPoints.h"
#include "PageSampler.h"

namespace {

ChartPoints randomPoints(int64_t n, quint32 seed) {
    ChartPoints p;
    QRandomGenerator random(seed);
    for (int64_t i = 0; i < n; ++i) {
        const float y = float(random.bounded(-6000, 6001));
        p.add(ChartPoints::LineSeries, y);
        p.add(ChartPoints::AreaSeries, y);
    }
    return p;
}

ChartPoints::Range bruteRange(const ChartPoints& p, int64_t a, int64_t b) {
    ChartPoints::Range r{p.value(a), p.value(a)};
    for (int64_t i = a; i < b; ++i) {
        r.min = std::min(r.min, p.value(i));
        r.max = std::max(r.max, p.value(i));
    }
    return r;
}

}  // namespace

class TstChartPoints : public QObject {
    Q_OBJECT

private slots:
    // Ranges that start and end on and off the 16, 256 and 4096 point blocks, and one past a chunk.
    void rangeMatchesEveryPoint_data() {
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::newRow("one point") << qint64(5) << qint64(6);
        QTest::newRow("inside a block") << qint64(3) << qint64(14);
        QTest::newRow("one whole block") << qint64(16) << qint64(32);
        QTest::newRow("ragged ends") << qint64(7) << qint64(4099);
        QTest::newRow("block edges") << qint64(255) << qint64(4097);
        QTest::newRow("everything") << qint64(0) << qint64(70000);
        QTest::newRow("across a chunk") << qint64(65530) << qint64(65545);
        QTest::newRow("the unfinished tail") << qint64(69000) << qint64(70000);
    }

    void rangeMatchesEveryPoint() {
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        static const ChartPoints points = randomPoints(70000, 7);
        const ChartPoints::Range got = points.range(first, last);
        const ChartPoints::Range want = bruteRange(points, first, last);
        QCOMPARE(got.min, want.min);
        QCOMPARE(got.max, want.max);
    }

    void randomRanges() {
        const ChartPoints points = randomPoints(100000, 11);
        QRandomGenerator random(3);
        for (int i = 0; i < 300; ++i) {
            const int64_t a = random.bounded(100000);
            const int64_t b = a + 1 + random.bounded(int(100000 - a));
            const ChartPoints::Range got = points.range(a, b);
            const ChartPoints::Range want = bruteRange(points, a, b);
            QVERIFY2(got.min == want.min && got.max == want.max,
                     qPrintable(QStringLiteral("%1..%2").arg(a).arg(b)));
        }
    }

    // Both series hold the same values; the one behind only catches up.
    void seriesShareValues() {
        ChartPoints p;
        p.sampleFill();
        QCOMPARE(p.size(), int64_t(1));
        QCOMPARE(p.value(0), 0.0f);
        p.add(ChartPoints::LineSeries, 12);
        QCOMPARE(p.count(ChartPoints::LineSeries), int64_t(2));
        QCOMPARE(p.count(ChartPoints::AreaSeries), int64_t(1));
        p.setActiveSeries(ChartPoints::AreaSeries);
        QCOMPARE(p.activeCount(), int64_t(1));
        p.add(ChartPoints::AreaSeries, 12);
        QCOMPARE(p.size(), int64_t(2));
        QCOMPARE(p.activeCount(), int64_t(2));
        p.setActiveSeries(5);
        QCOMPARE(p.activeSeries(), -1);
        QCOMPARE(p.activeCount(), int64_t(0));
        p.sampleFill();
        QCOMPARE(p.count(ChartPoints::LineSeries), int64_t(1));
    }

    // A page with few points is handed over as it is.
    void smallPageAsItIs() {
        const ChartPoints points = randomPoints(250, 5);
        QList<QPointF> out, fill;
        PageSampler::sample(points, 200, 100, 300, out, &fill);
        QCOMPARE(out.size(), 50);
        QCOMPARE(fill, out);
        QCOMPARE(out.first(), QPointF(200, points.value(200)));
        QCOMPARE(out.last(), QPointF(249, points.value(249)));
    }

    // A long page: per column its first and last point and the extremes in between, in order.
    void longPageReducedPerColumn() {
        const int64_t n = 100003;
        const int columns = 317;
        const ChartPoints points = randomPoints(n, 9);
        QList<QPointF> out, fill;
        PageSampler::sample(points, 0, n, columns, out, &fill);
        QCOMPARE(out.size(), columns * 4);
        QCOMPARE(fill.size(), columns * 2);
        for (int c = 0; c < columns; ++c) {
            const int64_t a = n * c / columns;
            const int64_t b = n * (c + 1) / columns;
            const ChartPoints::Range want = bruteRange(points, a, b);
            QCOMPARE(out[4 * c], QPointF(double(a), points.value(a)));
            QCOMPARE(out[4 * c + 1].y(), double(want.min));
            QCOMPARE(out[4 * c + 2].y(), double(want.max));
            QCOMPARE(out[4 * c + 3], QPointF(double(b - 1), points.value(b - 1)));
            QVERIFY(out[4 * c + 1].x() >= a && out[4 * c + 1].x() <= b - 1);
            // the fill reaches each column's largest value across the whole column
            QCOMPARE(fill[2 * c], QPointF(double(a), want.max));
            QCOMPARE(fill[2 * c + 1], QPointF(double(b - 1), want.max));
        }
    }

    void pageBeyondThePoints() {
        const ChartPoints points = randomPoints(10, 1);
        QList<QPointF> out{QPointF(1, 1)};
        PageSampler::sample(points, 300, 100, 300, out);
        QVERIFY(out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstChartPoints)
#include "tst_chart_points.moc"
