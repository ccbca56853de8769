// A channel's history in levels: what the buckets hold against values worked out here from the
// readings, how much is kept, how the levels read as one series for the chart and the aligned
// export.
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "BenchModel.h"
#include "BenchRecorder.h"
#include "BenchStripPoints.h"
#include "BenchStripTrace.h"

namespace {

constexpr int64_t kT0 = 1'780'000'020'000;  // on a whole minute
constexpr int64_t kStepMs = 100;            // ten readings a second

// a value for every reading that repeats only after 1000 of them
double valueOf(int64_t i) {
    return double((i * 7919) % 1000) / 8.0 - 40.0;
}

// `minutes` of readings from kT0 on
ChannelHistory history(int64_t minutes, const std::vector<ChannelHistory::Level>& levels) {
    ChannelHistory h(levels);
    for (int64_t i = 0; i < minutes * 600; ++i) h.add(kT0 + i * kStepMs, valueOf(i));
    return h;
}

struct Expected {
    double min = INFINITY;
    double max = -INFINITY;
    double mean = 0;
};

// worked out from the readings in [fromMs, fromMs + widthMs)
Expected expected(int64_t fromMs, int64_t widthMs) {
    Expected e;
    double sum = 0;
    int n = 0;
    for (int64_t t = fromMs; t < fromMs + widthMs; t += kStepMs) {
        const double v = valueOf((t - kT0) / kStepMs);
        e.min = std::min(e.min, v);
        e.max = std::max(e.max, v);
        sum += v;
        ++n;
    }
    e.mean = sum / n;
    return e;
}

}  // namespace

class TstChannelHistory : public QObject {
    Q_OBJECT

private slots:
    // Buckets of a second and of a minute, old and recent, hold the extremes and mean of the
    // readings in their time, dated by the first of them.
    void bucketsHoldTheirReadings_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<qint64>("offsetMs");
        QTest::newRow("the first second") << 1 << qint64(0);
        QTest::newRow("a second in the first hour") << 1 << qint64(1'234'000);
        QTest::newRow("the last whole second") << 1 << qint64(2 * 3'600'000 - 2'000);
        QTest::newRow("the first minute") << 2 << qint64(0);
        QTest::newRow("a later minute") << 2 << qint64(77 * 60'000);
    }
    void bucketsHoldTheirReadings() {
        QFETCH(int, level);
        QFETCH(qint64, offsetMs);
        static const ChannelHistory h = history(121, ChannelHistory::defaultLevels());
        const HistorySeries& s = h.level(level);
        const int64_t i = s.lowerBound(kT0 + offsetMs, s.begin(), s.end());
        QVERIFY(i < s.end());
        QCOMPARE(s.time(i), int64_t(kT0 + offsetMs));
        const Expected want = expected(kT0 + offsetMs, s.bucketMs());
        QCOMPARE(s.extremes(i).min, want.min);
        QCOMPARE(s.extremes(i).max, want.max);
        QCOMPARE(s.value(i), want.mean);
        // the pyramid over the level agrees with the entry
        QCOMPARE(s.range(i, i + 1).max, want.max);
    }

    // The readings are kept for an hour (and at most a chunk more), seconds for a day, minutes
    // for ever: three hours hold no more readings than two.
    void keepsWhatEachLevelIsFor() {
        const ChannelHistory two = history(120, ChannelHistory::defaultLevels());
        const ChannelHistory three = history(180, ChannelHistory::defaultLevels());
        for (const ChannelHistory* h : {&two, &three}) {
            const HistorySeries& readings = h->level(0);
            const int64_t oldest = h->lastTime() - readings.time(readings.begin());
            QVERIFY2(oldest >= 3'600'000 && oldest <= 3'600'000 + 4096 * kStepMs,
                     qPrintable(QString::number(oldest)));
            QCOMPARE(h->level(1).begin(), int64_t(0));
            QCOMPARE(h->level(2).begin(), int64_t(0));
            QCOMPARE(h->count(), uint64_t(h->level(0).end()));
        }
        QVERIFY(three.level(0).end() - three.level(0).begin() <= 36'000 + 4096);
        // the growth of an hour is the hour's buckets, not its readings
        QVERIFY(three.bytes() < two.bytes() + 3600 * 40 + 2 * 4096 * 32);
    }

    // A gap ends the open bucket and stands once in each level for a run of gaps; readings after
    // it open a bucket of their own.
    void gapsBreakTheBuckets() {
        ChannelHistory h;
        h.add(kT0, 1);
        h.add(kT0 + 300, 5);
        h.add(kT0 + 400, NAN);
        h.add(kT0 + 450, NAN);
        h.add(kT0 + 700, 3);
        h.add(kT0 + 1200, 4);  // closes the bucket after the gap
        const HistorySeries& s = h.level(1);
        QCOMPARE(s.end(), int64_t(3));
        QCOMPARE(s.value(0), 3.0);
        QCOMPARE(s.extremes(0).max, 5.0);
        QVERIFY(s.isGap(1));
        QCOMPARE(s.time(1), kT0 + 400);
        QCOMPARE(s.time(2), kT0 + 700);
        QCOMPARE(s.value(2), 3.0);
    }

    // Read as one series the levels follow each other in time, each finer one taking over where
    // it starts; the whole run is drawn from the coarsest level, the last minute from readings
    // with every reading's value.
    void levelsReadAsOneSeries() {
        const std::vector<ChannelHistory::Level> levels = {{0, 120'000}, {1'000, 600'000}, {10'000, 0}};
        const ChannelHistory h = history(30, levels);
        const auto parts = h.segments();
        QCOMPARE(int(parts.size()), 3);
        for (size_t k = 0; k < parts.size(); ++k) {
            QCOMPARE(parts[k].level, 2 - int(k));
            if (k == 0) continue;
            const HistorySeries& coarse = h.level(parts[k - 1].level);
            const HistorySeries& fine = h.level(parts[k].level);
            const int64_t coarseLast = coarse.time(parts[k - 1].to - 1);
            QVERIFY(coarseLast < fine.time(parts[k].from));
            QVERIFY(fine.time(parts[k].from) - coarseLast <= coarse.bucketMs());
        }
        BenchStripPoints points(&h);
        points.catchUp();
        const int columns = 300;
        const int64_t first = h.firstTime(), last = h.lastTime();
        const BenchStripTrace whole =
            BenchStripTrace::reduce(points, first, double(last - first) / columns, columns);
        QCOMPARE(whole.bucketMs, int64_t(10'000));
        QCOMPARE(whole.range.min, -40.0);
        QCOMPARE(whole.range.max, 999 / 8.0 - 40.0);
        // 600 readings over 300 columns: two a column
        const BenchStripTrace minute = BenchStripTrace::reduce(points, last - 59'999, 200, columns);
        QCOMPARE(minute.bucketMs, int64_t(0));
        QCOMPARE(int(minute.bars.size()), columns);
        for (const int c : {0, 150, 299}) {
            const int64_t i = (last - 59'999 + c * 200 + 99 - kT0) / kStepMs;  // first reading in the column
            QCOMPARE(minute.bars[size_t(c)].min, std::min(valueOf(i), valueOf(i + 1)));
            QCOMPARE(minute.bars[size_t(c)].max, std::max(valueOf(i), valueOf(i + 1)));
        }
    }

    // The aligned export reads readings where they are still held and, before, the recording's
    // readings or without one the buckets' means: one meter for two hours at ten readings a
    // second, a row a minute.
    void alignedExportReadsTheLevels_data() {
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<qint64>("rowMs");
        QTest::addColumn<double>("value");
        QTest::newRow("an old minute: the mean of its second")
            << false << qint64(10 * 60'000) << expected(kT0 + 600'000, 1000).mean;
        QTest::newRow("a recent minute: its reading") << false << qint64(100 * 60'000) << valueOf(100 * 600);
        QTest::newRow("an old minute recorded: its reading")
            << true << qint64(10 * 60'000) << valueOf(10 * 600);
        QTest::newRow("a recent minute recorded: its reading")
            << true << qint64(100 * 60'000) << valueOf(100 * 600);
    }
    void alignedExportReadsTheLevels() {
        QFETCH(bool, recorded);
        QFETCH(qint64, rowMs);
        QFETCH(double, value);
        static QTemporaryDir dir;
        static const QStringList texts = [] {
            BenchModel model;
            const int id = model.addMeter(QStringLiteral("U"));
            const QString recording = dir.filePath(QStringLiteral("long.csv"));
            BenchRecorder recorder(model, recording);
            if (!recorder.start()) return QStringList();
            BenchReading r;
            r.unit = QStringLiteral("V");
            for (int64_t i = 0; i < 120 * 600; ++i) {
                r.timeMs = kT0 + i * kStepMs;
                r.value = valueOf(i);
                model.addReading(id, r);
            }
            if (!recorder.finish()) return QStringList();
            QStringList out;
            for (const QString& from : {QString(), recording}) {
                const QString path = dir.filePath(QStringLiteral("aligned.csv"));
                if (!writeAlignedCsv(model, path, 60'000, nullptr, from)) return QStringList();
                QFile file(path);
                out << (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString());
            }
            return out;
        }();
        QCOMPARE(texts.size(), 2);
        const QStringList rows = texts[recorded ? 1 : 0].split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + 120);
        const QStringList cells = rows[1 + int(rowMs / 60'000)].split(',');
        QCOMPARE(cells.size(), 2);
        QCOMPARE(cells[1].toDouble(), value);
    }
};

QTEST_GUILESS_MAIN(TstChannelHistory)
#include "tst_channel_history.moc"
