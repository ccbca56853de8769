// The min/max summary on its own: stretches read through its levels against every entry, for a
// series that keeps all it got and one that forgets its start as it grows.
#include <QRandomGenerator>
#include <QtTest>
#include <cmath>
#include <vector>

#include "MinMaxPyramid.h"

namespace {

using Pyramid = MinMaxPyramid<double>;

struct Entries {
    std::vector<double> lo, hi;
};

// entries with a spread of their own, one in 40 without a value
const Entries& randomEntries() {
    static const Entries entries = [] {
        Entries e;
        QRandomGenerator random(5);
        for (int64_t i = 0; i < 16'777'300; ++i) {
            const quint32 bits = random.generate();
            const double v = bits % 40 == 0 ? NAN : double(int(bits >> 8) % 5001);
            const double spread = double((bits >> 3) % 30);
            e.lo.push_back(v - spread);
            e.hi.push_back(v + spread);
        }
        return e;
    }();
    return entries;
}

Pyramid::Range brute(const Entries& e, const Pyramid& p, int64_t first, int64_t last) {
    Pyramid::Range r;
    for (int64_t i = std::max(first, p.begin()); i < std::min<int64_t>(last, p.size()); ++i)
        r.take(e.lo[size_t(i)], e.hi[size_t(i)]);
    return r;
}

}  // namespace

class TstMinMaxPyramid : public QObject {
    Q_OBJECT

private slots:
    // Stretches on and off block edges of every level, the last a stretch of the top level, with
    // the start of the series forgotten up to `forget` (blocks wholly before it are let go).
    void rangeMatchesEveryEntry_data() {
        QTest::addColumn<qint64>("forget");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::newRow("one entry") << qint64(0) << qint64(5) << qint64(6);
        QTest::newRow("ragged ends") << qint64(0) << qint64(7) << qint64(70'001);
        QTest::newRow("the unfinished tail") << qint64(0) << qint64(1'200'000) << qint64(1'300'000);
        QTest::newRow("past a top block") << qint64(0) << qint64(3) << qint64(16'777'300);
        QTest::newRow("from before the forgotten start") << qint64(300'017) << qint64(0) << qint64(900'000);
        QTest::newRow("just after the forgotten start")
            << qint64(1'048'576) << qint64(1'048'577) << qint64(1'048'600);
        QTest::newRow("all that is kept") << qint64(16'000'000) << qint64(-1) << qint64(17'000'000);
    }
    void rangeMatchesEveryEntry() {
        QFETCH(qint64, forget);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        const Entries& e = randomEntries();
        Pyramid p;
        for (size_t i = 0; i < e.lo.size(); ++i) p.add(e.lo[i], e.hi[i]);
        p.forgetBefore(forget / 2);  // twice, as a series that keeps its recent part does
        p.forgetBefore(forget);
        QCOMPARE(p.begin(), forget);
        const Pyramid::Range got = p.range(first, last, [&e](int64_t i) {
            return Pyramid::Range{e.lo[size_t(i)], e.hi[size_t(i)]};
        });
        const Pyramid::Range want = brute(e, p, first, last);
        QCOMPARE(got.empty(), want.empty());
        QCOMPARE(got.min, want.min);
        QCOMPARE(got.max, want.max);
    }
};

QTEST_GUILESS_MAIN(TstMinMaxPyramid)
#include "tst_minmax_pyramid.moc"
