// Layout of the analog face: arc, pointer ends, labels, tick dots and band colours.
#include <QTest>
#include <climits>

#include "ScaleGeometry.h"

using namespace ScaleGeometry;

namespace {

const QSize kFormPanel(318, 137);

ScaleInputs countRange(const char* digits) {
    ScaleInputs in;
    in.ScaleDigits = digits;
    const int full = QByteArray(digits) == "6" ? 6000 : QByteArray(digits) == "34" ? 3400 : 4000;
    in.FullScale = full;
    in.BarSegments = full / 50;
    return in;
}

std::optional<PointerLine> pointerFor(const ScaleInputs& in, int position) {
    const PointerScale s = pointerScale(in, position);
    return pointerAt(faceFor(in.panelSize), s.v, s.steps);
}

QList<int> redBand(const ScaleInputs& in) {
    QList<int> red;
    for (int j = 0; j <= in.BarSegments * 10; ++j) {
        if (bandIsRed(in, j)) red.append(j);
    }
    return red;
}

QList<int> range(int from, int to) {
    QList<int> r;
    for (int i = from; i <= to; ++i) r.append(i);
    return r;
}

bool bounded(QPoint p) {
    return std::abs(p.x()) <= 32768 && std::abs(p.y()) <= 32768;
}

}  // namespace

class TestScaleGeometry : public QObject {
    Q_OBJECT

private slots:
    void faceAtFormSize() {
        const Face f = faceFor(kFormPanel);
        QCOMPARE(f.W, 278.0f);
        QCOMPARE(f.H, 77.0f);
        QVERIFY(std::abs(f.R - 163.96f) < 0.01f);
        // degrees from the short pi 3.1415, which differ from true degrees in the third decimal
        QVERIFY(std::abs(f.sweep - 115.9417f) < 0.0005f);
        QVERIFY(std::abs(f.start - 32.0292f) < 0.0005f);
    }

    // The zero of every scale points straight up, from 4 pixels below the arc's top to the far
    // end 280 pixels below the arc height.
    void zeroIsUpright_data() {
        QTest::addColumn<QString>("digits");
        QTest::addColumn<bool>("freq");
        QTest::addColumn<int>("position");
        QTest::newRow("4000 counts") << "4" << false << 400;
        QTest::newRow("6000 counts") << "6" << false << 600;
        QTest::newRow("3400 counts") << "34" << false << 340;
        QTest::newRow("frequency") << "4" << true << 400;
    }
    void zeroIsUpright() {
        QFETCH(QString, digits);
        QFETCH(bool, freq);
        QFETCH(int, position);
        ScaleInputs in = countRange(qPrintable(digits));
        in.FreqMode = freq;
        const auto line = pointerFor(in, position);
        QVERIFY(line);
        QCOMPARE(line->tip, QPoint(159, 34));
        QCOMPARE(line->base, QPoint(159, 387));
    }

    void frequencyScaleHasThousandSteps() {
        ScaleInputs in;
        in.FreqMode = true;
        const PointerScale s = pointerScale(in, 400);
        QCOMPARE(s.steps, 1000);
        QCOMPARE(s.v, 500.0);
        // no overflow when the offset is added to the largest position
        QCOMPARE(pointerScale(in, INT_MAX).v, double(INT_MAX) + 100);
    }

    // Positions 0 and full scale put the tip on the ends of the arc (4 pixels down), mirrored
    // about the upright zero, and the pointer runs through the circle's centre.
    void extremesReachArcEnds_data() {
        QTest::addColumn<QString>("digits");
        QTest::newRow("4000") << "4";
        QTest::newRow("6000") << "6";
        QTest::newRow("3400") << "34";
    }
    void extremesReachArcEnds() {
        QFETCH(QString, digits);
        const ScaleInputs in = countRange(qPrintable(digits));
        const Face f = faceFor(in.panelSize);
        const int steps = in.BarSegments * 10;
        const auto left = pointerFor(in, 0);
        const auto right = pointerFor(in, steps);
        QVERIFY(left && right);
        QCOMPARE(left->tip, pointAt(f, angleAt(f, 0, steps), 0) + QPoint(0, 4));
        QCOMPARE(right->tip, pointAt(f, angleAt(f, steps, steps), 0) + QPoint(0, 4));
        QCOMPARE(left->tip, QPoint(20, 111));
        QCOMPARE(right->tip, QPoint(298, 111));
        QCOMPARE(left->base.x() + right->base.x(), 2 * 159);

        // through the centre (159, R + 30): the base, the tip and the centre are on one line
        const double cx = 159, cy = f.R + 30;
        const double cross =
            (left->tip.x() - cx) * (left->base.y() - cy) - (left->tip.y() - cy) * (left->base.x() - cx);
        const double length = std::hypot(left->base.x() - left->tip.x(), left->base.y() - left->tip.y());
        QVERIFY(std::abs(cross) / length < 5.0);
    }

    void labelTables() {
        struct Expect {
            const char* digits;
            bool freq;
            QList<int> ticks;
            QStringList texts;
        };
        const Expect rows[] = {
            {"4",
             false,
             {0, 10, 20, 30, 40, 50, 60, 70, 80},
             {"-40", "-30", "-20", "-10", "0", "10", "20", "30", "40"}},
            {"6",
             false,
             {0, 15, 30, 45, 60, 75, 90, 105, 120},
             {"-60", "-45", "-30", "-15", "0", "15", "30", "45", "60"}},
            {"34", false, {4, 14, 24, 34, 44, 54, 64}, {"-30", "-20", "-10", "0", "10", "20", "30"}},
            {"4",
             true,
             {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100},
             {"-50", "-40", "-30", "-20", "-10", "0", "10", "20", "30", "40", "50"}},
            {"5", false, {}, {}},
        };
        for (const Expect& e : rows) {
            ScaleInputs in = countRange(e.digits);
            in.FreqMode = e.freq;
            QList<int> ticks;
            QStringList texts;
            for (const ScaleLabel& l : labelsFor(in)) {
                ticks.append(l.tick);
                texts.append(QString::fromLatin1(l.text));
            }
            QCOMPARE(ticks, e.ticks);
            QCOMPARE(texts, e.texts);
        }
    }

    // Where the texts land at form size: the top-left corner is the anchor 18 pixels outside the
    // arc less the label's offset.
    void labelPositions() {
        const ScaleInputs in = countRange("4");
        const Face f = faceFor(in.panelSize);
        QList<QPoint> corners;
        for (const ScaleLabel& l : labelsFor(in)) {
            corners.append(pointAt(f, angleAt(f, l.tick, tickCount(in)), 18) - QPoint(l.dx, l.dy));
        }
        const QList<QPoint> expected = {{0, 90},   {26, 56},  {61, 30},  {103, 14}, {156, 8},
                                        {200, 13}, {239, 30}, {274, 56}, {302, 90}};
        QCOMPARE(corners, expected);
    }

    void tickDots() {
        auto dots = [](ScaleInputs in) {
            QList<int> d;
            for (int i = 0; i <= tickCount(in); ++i) {
                if (hasTickDot(in, i)) d.append(i);
            }
            return d;
        };
        QCOMPARE(dots(countRange("4")), QList<int>({0, 10, 20, 30, 40, 50, 60, 70, 80}));
        QCOMPARE(dots(countRange("6")), QList<int>({0, 15, 30, 45, 60, 75, 90, 105, 120}));
        QCOMPARE(dots(countRange("34")), QList<int>({4, 14, 24, 34, 44, 54, 64}));
        ScaleInputs freq = countRange("6");
        freq.FreqMode = true;
        QCOMPARE(tickCount(freq), 100);
        QCOMPARE(dots(freq), QList<int>({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    }

    void bandColours() {
        ScaleInputs in = countRange("4");
        in.MaxLimit = 3000;
        QVERIFY(redBand(in).isEmpty());  // not armed
        in.SetMaxB = true;
        QCOMPARE(redBand(in), range(701, 800));
        in.MaxLimit = 4000;  // the last point stands for exactly 4000: not beyond
        QVERIFY(redBand(in).isEmpty());
        in.MaxLimit = 0;
        QCOMPARE(redBand(in), range(401, 800));

        in.SetMaxB = false;
        in.SetMinB = true;
        in.MinLimit = -3000;
        QCOMPARE(redBand(in), range(0, 99));
        in.MinLimit = -4000;
        QVERIFY(redBand(in).isEmpty());

        // both armed, on the 3400-count band, which also serves the frequency scale
        ScaleInputs small = countRange("34");
        small.FreqMode = true;
        small.SetMaxB = small.SetMinB = true;
        small.MaxLimit = 3000;
        small.MinLimit = -3000;
        QCOMPARE(redBand(small), range(0, 39) + range(641, 680));
    }

    void lowPanelDrawsNothing() {
        QVERIFY(!faceFor({318, 60}).valid());
        QVERIFY(!faceFor({318, 0}).valid());
        QVERIFY(!faceFor({0, 137}).valid());
        QVERIFY(!pointerAt(faceFor({318, 60}), 400, 800));
        QVERIFY(faceFor({318, 61}).valid());
        QVERIFY(pointerFor(
            [] {
                ScaleInputs in;
                in.panelSize = {318, 61};
                return in;
            }(),
            400));
    }

    // A square or tall panel keeps a 120-degree arc, the scale the right way round, with the
    // pivot inside the panel.
    void tallPanelKeepsOrientation() {
        for (const QSize panel : {QSize(318, 600), QSize(300, 300)}) {
            ScaleInputs in;
            in.panelSize = panel;
            const Face f = faceFor(panel);
            QVERIFY(std::abs(f.sweep - 120) < 0.1f && pivotShows(f));
            const auto left = pointerFor(in, 0), zero = pointerFor(in, 400), right = pointerFor(in, 800);
            QVERIFY(left && zero && right);
            QVERIFY(left->tip.x() < zero->tip.x() && zero->tip.x() < right->tip.x());
            QCOMPARE(zero->tip.x(), panel.width() / 2);
        }
    }

    // Positions far off the scale stay drawable: small coordinates, and nothing for a level pointer.
    void farPositionsStayBounded() {
        ScaleInputs in;
        const Face f = faceFor(in.panelSize);
        for (int position : {INT_MIN, -100000, -400, -221, 1021, 1200, 100000, INT_MAX}) {
            for (bool freq : {false, true}) {
                in.FreqMode = freq;
                const auto line = pointerFor(in, position);
                if (line) {
                    QVERIFY2(bounded(line->tip) && bounded(line->base),
                             qPrintable(QString::number(position)));
                }
            }
        }
        // the angle where the pointer lies level, left of the scale, and very close to it
        const double level = -double(f.start) * 800 / f.sweep;
        for (double v : {level, std::nextafter(level, 0.0), std::nextafter(level, -1000.0)}) {
            const auto line = pointerAt(f, v, 800);
            if (line) QVERIFY(bounded(line->tip) && bounded(line->base));
        }
        // exactly level: no far end to draw to
        Face flat = f;
        flat.start = 0;
        QVERIFY(!pointerAt(flat, 0, 800));
        // no steps at all
        QVERIFY(!pointerAt(f, 0, 0));
    }
};

QTEST_APPLESS_MAIN(TestScaleGeometry)
#include "tst_scale_geometry.moc"
