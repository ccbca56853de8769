// The XY plot's pairs and view and the histogram's bins, driven without a window.
#include <QtTest>
#include <cmath>

#include "BenchModel.h"
#include "BenchPlots.h"

namespace {

constexpr int64_t kT0 = 1'780'000'000'000;

// U ramps by 10 mV a reading every 100 ms; I = 2 U + 1 is read `offsetMs` after each U reading
struct RampAndLine {
    ChannelHistory u, i;
    explicit RampAndLine(int64_t offsetMs) {
        for (int k = 0; k < 100; ++k) {
            u.add(kT0 + 100 * k, 0.01 * k);
            i.add(kT0 + 100 * k + offsetMs, 2 * (0.01 * k) + 1);
        }
    }
};

}  // namespace

class TstBenchPlots : public QObject {
    Q_OBJECT

private slots:
    // Each reading of I takes the last reading of U at or before it, if that is recent enough;
    // `lag` is how many U readings behind the one of the same step that is.
    void xyPairsARampWithALine_data() {
        QTest::addColumn<qint64>("offsetMs");
        QTest::addColumn<qint64>("maxAgeMs");
        QTest::addColumn<int>("fromStep");
        QTest::addColumn<int>("toStep");  // the stretch [fromStep, toStep] of U's steps
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("lag");
        QTest::newRow("I just after U") << qint64(30) << qint64(1500) << 0 << 99 << 100 << 0;
        QTest::newRow("I just before U: the U before") << qint64(-30) << qint64(1500) << 0 << 99 << 99 << 1;
        QTest::newRow("U too old") << qint64(30) << qint64(20) << 0 << 99 << 0 << 0;
        QTest::newRow("a stretch of time") << qint64(30) << qint64(1500) << 20 << 29 << 10 << 0;
    }
    void xyPairsARampWithALine() {
        QFETCH(qint64, offsetMs);
        QFETCH(qint64, maxAgeMs);
        QFETCH(int, fromStep);
        QFETCH(int, toStep);
        QFETCH(int, count);
        QFETCH(int, lag);
        const RampAndLine data(offsetMs);
        const auto points =
            BenchXy::pair(data.u, data.i, kT0 + 100 * fromStep, kT0 + 100 * toStep + 99, maxAgeMs);
        QCOMPARE(int(points.size()), count);
        for (size_t n = 0; n < points.size(); ++n) {
            const int k = int(n) + fromStep + lag;  // the step of the I reading
            QCOMPARE(points[n].timeMs, int64_t(kT0 + 100 * k + offsetMs));
            QCOMPARE(points[n].y, 2 * (0.01 * k) + 1);
            QCOMPARE(points[n].x, 0.01 * (k - lag));
        }
    }

    // The view fits the points with equal room on either side; zooming keeps the value under
    // the mouse in place, panning moves by a share of the span, and either stops the fitting.
    void xyViewportFitsZoomsAndPans() {
        const RampAndLine data(30);
        const auto points = BenchXy::pair(data.u, data.i, kT0, kT0 + 10'000, 1500);
        XyViewport view;
        view.follow(points);
        QVERIFY(view.x().fraction(0) > 0 && view.x().fraction(0.99) < 1);
        QCOMPARE(view.x().fraction(0) + view.x().fraction(0.99), 1.0);
        QCOMPARE(view.y().fraction(1) + view.y().fraction(2.98), 1.0);
        const double before = view.x().fraction(0.3);
        view.zoom(0.5, 0.3, 1.6);
        QCOMPARE(view.x().fraction(0.3), before);
        QVERIFY(view.manual());
        view.follow({});  // a moved view stays where the user put it
        QCOMPARE(view.x().fraction(0.3), before);
        view.pan(0.25, 0);
        QCOMPARE(view.x().fraction(0.3), before - 0.25);
        view.fitAgain();
        view.follow(points);
        QCOMPARE(view.x().fraction(0) + view.x().fraction(0.99), 1.0);
    }

    // Bins from the smallest to the largest value, each holding [low, high) and the last one
    // the largest value too; counts worked out by hand.
    void histogramCountsBins_data() {
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<int>("bins");
        QTest::addColumn<QVector<uint64_t>>("counts");
        QVector<double> ramp;
        for (int v = 0; v < 100; ++v) ramp << v;
        QTest::newRow("a ramp of 100 in 10") << ramp << 10 << QVector<uint64_t>(10, 10);
        QTest::newRow("a ramp of 100 in 3") << ramp << 3 << QVector<uint64_t>{33, 33, 34};
        QTest::newRow("edges on values")
            << QVector<double>{0, 1, 2, 3, 4} << 4 << QVector<uint64_t>{1, 1, 1, 2};
        QTest::newRow("gaps left out") << QVector<double>{1, NAN, 3, NAN} << 2 << QVector<uint64_t>{1, 1};
        QTest::newRow("one value all along")
            << QVector<double>{7, 7, 7} << 4 << QVector<uint64_t>{0, 0, 3, 0};
    }
    void histogramCountsBins() {
        QFETCH(QVector<double>, values);
        QFETCH(int, bins);
        QFETCH(QVector<uint64_t>, counts);
        const HistogramBins h =
            BenchHistogram::count(std::vector<double>(values.begin(), values.end()), bins);
        QCOMPARE(QVector<uint64_t>(h.counts.begin(), h.counts.end()), counts);
        uint64_t total = 0;
        for (const uint64_t c : counts) total += c;
        QCOMPARE(h.total, total);
    }

    // Freedman-Diaconis where the quartiles differ, Sturges where they do not.
    void histogramChoosesItsBins() {
        std::vector<double> eight{8, 1, 7, 2, 6, 3, 5, 4};  // IQR 3.5: width 2 * 3.5 / 2, 2 bins over 7
        QCOMPARE(BenchHistogram::autoBins(eight), 2);
        std::vector<double> steady(1000, 5.0);
        QCOMPARE(BenchHistogram::autoBins(steady), 11);  // log2(1000) = 9.97
        QCOMPARE(BenchHistogram::sturgesBins(1), 1);
    }

    // The histogram reads the readings since the channel's statistics were reset.
    void histogramStartsAtTheReset() {
        BenchModel model;
        const int id = model.addMeter(QStringLiteral("U"));
        BenchReading r;
        r.unit = QStringLiteral("V");
        for (int k = 0; k < 15; ++k) {
            if (k == 10) model.resetStatistics(id);
            r.timeMs = kT0 + 100 * k;
            r.value = k;
            model.addReading(id, r);
        }
        const std::vector<double> values =
            BenchHistogram::values(model.history(id), model.statisticsFrom(id));
        QVERIFY(values == (std::vector<double>{10, 11, 12, 13, 14}));
        QCOMPARE(uint64_t(values.size()), model.statistics(id).count);
    }
};

QTEST_GUILESS_MAIN(TstBenchPlots)
#include "tst_bench_plots.moc"
