// The drawn face: pixels of the band, the tick dots, the labels and the pointer.
#include <QLineF>
#include <QPainter>
#include <QTest>
#include <cstring>

#include "ScaleCanvas.h"
#include "ScaleImageWidget.h"

using namespace ScaleGeometry;

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

// Centre pixel of the band dot j of a 4000-count face at form size.
QPoint bandPixel(const ScaleInputs& in, int j) {
    const Face f = faceFor(in.panelSize);
    return pointAt(f, angleAt(f, j, in.BarSegments * 10), 3) + QPoint(1, 1);
}

int countColour(const QImage& image, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.rect().contains(x, y) && image.pixel(x, y) == colour) ++n;
        }
    }
    return n;
}

// Black pixels within a pixel of the point at `dy` below the tip on the line from tip to base.
bool pointerShowsAt(const ScaleCanvas& c, int dy) {
    const double t = double(dy) / (c.PointerBaseY - c.PointerTipY);
    const int x = qRound(c.PointerTipX + t * (c.PointerBaseX - c.PointerTipX));
    return countColour(c.image(), QRect(x - 1, c.PointerTipY + dy - 1, 3, 3), kBlack) > 0;
}

// Black pixels of a label written alone, as the face writes it: a label shows whole when the face
// keeps them all.
int labelInk(const char* text) {
    QImage alone(60, 30, QImage::Format_RGB32);
    alone.fill(kWhite);
    QPainter p(&alone);
    p.setFont(ScaleCanvas::labelFont());
    p.setPen(Qt::black);
    p.drawText(alone.rect(), Qt::AlignLeft | Qt::AlignTop, QString::fromLatin1(text));
    p.end();
    return countColour(alone, alone.rect(), kBlack);
}

}  // namespace

class TestScaleCanvas : public QObject {
    Q_OBJECT

private slots:
    void pictureIsCreatedOnceAtClientSize() {
        ScaleCanvas canvas;
        ScaleInputs in;
        QVERIFY(canvas.image().isNull());
        canvas.KDsetup(in);
        QCOMPARE(canvas.image().size(), QSize(314, 133));
        QCOMPARE(canvas.image().pixel(0, 132), kWhite);

        // a bigger panel later changes the layout, not the picture
        in.panelSize = {500, 300};
        canvas.KDrun(400, in);
        QCOMPARE(canvas.image().size(), QSize(314, 133));
        QCOMPARE(canvas.PointerTipX, 250);

        ScaleCanvas sized;
        in.imageSize = {200, 100};
        sized.KDrun(400, in);
        QCOMPARE(sized.image().size(), QSize(200, 100));
    }

    // A panel that changes size gets its face drawn anew: the picture has the new size, the band
    // lies on the new arc, the pointer's tip reaches it, every label shows whole, and going back
    // to the form size gives the first picture again.
    void faceFollowsThePanelSize_data() {
        QTest::addColumn<QSize>("panel");
        QTest::newRow("1000 x 700") << QSize(697, 227);
        QTest::newRow("800 x 560") << QSize(497, 175);
        QTest::newRow("1500 x 900") << QSize(1197, 301);
    }
    void faceFollowsThePanelSize() {
        QFETCH(QSize, panel);
        ScaleCanvas canvas;
        ScaleInputs in;
        canvas.KDsetup(in);
        const int labelInk = countColour(canvas.image(), canvas.image().rect(), kBlack);
        canvas.KDrun(400, in);
        const QImage start = canvas.image();

        in.panelSize = panel;
        canvas.resize(in);
        QCOMPARE(canvas.image().size(), panel - QSize(4, 4));
        const Face f = faceFor(panel);
        for (int j : {0, 200, 600, 800}) QCOMPARE(canvas.image().pixel(bandPixel(in, j)), kBlue);
        for (int position : {0, 250, 400, 800}) {
            canvas.KDrun(position, in);
            const QPoint tip = pointAt(f, angleAt(f, position, 800), 0) + QPoint(0, 4);
            QVERIFY(countColour(canvas.image(), QRect(tip - QPoint(1, 1), QSize(3, 3)), kBlack) > 0);
        }
        canvas.KDsetup(in);
        QCOMPARE(countColour(canvas.image(), canvas.image().rect(), kBlack), labelInk);

        canvas.KDrun(400, in);
        in.panelSize = {318, 137};
        canvas.resize(in);
        QCOMPARE(canvas.image(), start);
    }

    // At every shape of panel (the windows' 640 x 1000, 800 x 800, 1600 x 380, 1600 x 1000, the
    // form's, a square and a tall one) every label lies whole inside the picture, clear of the
    // band, and the pointer's pixels lie on the line from its tip to the pivot, reaching it where
    // it shows. A 120-degree arc keeps its pivot inside and its labels clear of the sides.
    void faceFitsAnyPanel() {
        for (const QSize panel : {QSize(345, 355), QSize(505, 281), QSize(1305, 125), QSize(1305, 355),
                                  QSize(318, 137), QSize(300, 300), QSize(200, 500), QSize(700, 300)}) {
            ScaleInputs in;
            in.panelSize = panel;
            const Face f = faceFor(panel);
            ScaleCanvas canvas;
            canvas.KDsetup(in);
            const QImage face = canvas.image();
            const QRect picture = face.rect();
            QVERIFY(picture.contains(bandPixel(in, 0)) && picture.contains(bandPixel(in, 800)));
            const bool steep = std::abs(f.sweep - 120) < 0.1f;
            QVERIFY2(!steep || (pivotShows(f) && picture.contains(pivot(f).toPoint())), "pivot outside");

            const std::vector<ScaleLabel>& labels = labelsFor(in);
            QCOMPARE(canvas.labelBoxes().size(), labels.size());
            for (size_t i = 0; i < labels.size(); ++i) {
                const QRect box = canvas.labelBoxes()[i];
                QVERIFY2(picture.contains(box), labels[i].text);
                if (steep) QVERIFY2(box.left() > 0 && box.right() < picture.right(), labels[i].text);
                QVERIFY2(countColour(face, box, kBlack) == labelInk(labels[i].text), labels[i].text);
            }

            // the pointer runs from the tip to the pivot, or towards it to the picture's lower edge;
            // a move paints only the part it says it changed
            for (int position : {0, 130, 400, 690, 800, 799, 5}) {
                canvas.KDsetup(in);
                canvas.KDrun(400, in);
                const QImage before = canvas.image().copy();
                const QRect changed = canvas.KDrun(position, in);
                const QPointF tip(canvas.PointerTipX, canvas.PointerTipY);
                const QPointF end =
                    pivotShows(f) ? pivot(f) : QPointF(canvas.PointerBaseX, canvas.PointerBaseY);
                const QLineF line(tip, end);
                bool reachesEnd = false;
                for (int y = 0; y < picture.height(); ++y) {
                    for (int x = 0; x < picture.width(); ++x) {
                        const QRgb now = canvas.image().pixel(x, y);
                        QVERIFY2(
                            now == before.pixel(x, y) || changed.contains(x, y),
                            qPrintable(QStringLiteral("(%1, %2) outside at %3").arg(x).arg(y).arg(position)));
                        if (now != kBlack || face.pixel(x, y) == kBlack) continue;
                        const QPointF d = QPointF(x + 0.5, y + 0.5) - tip;
                        const double t = (d.x() * line.dx() + d.y() * line.dy()) / line.length();
                        const double off = std::abs(d.x() * line.dy() - d.y() * line.dx()) / line.length();
                        QVERIFY2(off < 2 && t > -2 && t < line.length() + 2,
                                 qPrintable(QString::number(position)));
                        reachesEnd =
                            reachesEnd || (pivotShows(f) ? t > line.length() - 3 : y == picture.height() - 1);
                    }
                }
                QVERIFY(reachesEnd);
            }
        }
    }

    void lowPanelDrawsNothing() {
        ScaleCanvas canvas;
        ScaleInputs in;
        in.panelSize = {318, 60};
        canvas.KDsetup(in);
        canvas.KDrun(400, in);
        QVERIFY(canvas.image().isNull());
        QCOMPARE(canvas.PointerTipX, 0);

        // once drawn, a later collapse leaves the picture and the pointer as they are
        in.panelSize = {318, 137};
        canvas.KDsetup(in);
        canvas.KDrun(400, in);
        const QImage before = canvas.image();
        in.panelSize = {318, 50};
        canvas.KDsetup(in);
        canvas.KDrun(0, in);
        QCOMPARE(canvas.image(), before);
        QCOMPARE(canvas.PointerTipX, 159);
    }

    void bandFollowsArmedLimits() {
        ScaleCanvas canvas;
        ScaleInputs in;
        in.MaxLimit = 3000;
        in.SetMaxB = true;
        in.MinLimit = -3500;
        in.SetMinB = true;
        canvas.KDsetup(in);
        for (int j : {0, 20, 780, 800}) QCOMPARE(canvas.image().pixel(bandPixel(in, j)), kRed);
        for (int j : {100, 400, 650}) QCOMPARE(canvas.image().pixel(bandPixel(in, j)), kBlue);

        // disarming and redrawing turns the whole band blue
        in.SetMaxB = in.SetMinB = false;
        canvas.KDsetup(in);
        for (int j : {0, 20, 400, 780, 800}) QCOMPARE(canvas.image().pixel(bandPixel(in, j)), kBlue);
    }

    // Red dots sit just outside the band at the dotted ticks only; with the band blue, any red
    // pixel near a tick is its dot (or the dot of a neighbour, 5 pixels away).
    void tickDotsAtDottedTicksOnly() {
        ScaleInputs in;
        in.ScaleDigits = "34";
        in.FullScale = 3400;
        in.BarSegments = 68;
        ScaleCanvas canvas;
        canvas.KDsetup(in);
        const Face f = faceFor(in.panelSize);
        for (int i = 0; i <= 68; ++i) {
            const QPoint p = pointAt(f, angleAt(f, i, 68), 6);
            const int red = countColour(canvas.image(), QRect(p - QPoint(2, 2), QSize(6, 6)), kRed);
            const int k = ((i - 4) % 10 + 10) % 10;
            const int fromDot = std::min(k, 10 - k);  // ticks to the nearest of 4, 14, ...
            if (fromDot == 0) QVERIFY2(red > 0, qPrintable(QString::number(i)));
            if (fromDot >= 2) QVERIFY2(red == 0, qPrintable(QString::number(i)));
        }
    }

    void labelsAreWritten() {
        ScaleCanvas canvas;
        ScaleInputs in;
        canvas.KDsetup(in);
        // "0" at (156, 8) and "-40" at (0, 90); nothing written between the labels at the top
        QVERIFY(countColour(canvas.image(), QRect(156, 8, 8, 13), kBlack) > 5);
        QVERIFY(countColour(canvas.image(), QRect(0, 90, 18, 13), kBlack) > 5);
        QCOMPARE(countColour(canvas.image(), QRect(125, 0, 25, 25), kBlack), 0);

        in.FreqMode = true;  // "50" at the right end, where the count scale has "40"
        canvas.KDsetup(in);
        const QImage freq = canvas.image();
        in.FreqMode = false;
        canvas.KDsetup(in);
        QVERIFY(freq != canvas.image());
    }

    // Every label of every scale is written at its place, both ends of the arc included.
    void everyLabelIsWritten_data() {
        QTest::addColumn<QString>("digits");
        QTest::addColumn<int>("segments");
        QTest::addColumn<bool>("frequency");
        QTest::newRow("4000") << "4" << 80 << false;
        QTest::newRow("6000") << "6" << 120 << false;
        QTest::newRow("3400") << "34" << 68 << false;
        QTest::newRow("frequency") << "4" << 80 << true;
    }
    void everyLabelIsWritten() {
        QFETCH(QString, digits);
        QFETCH(int, segments);
        QFETCH(bool, frequency);
        ScaleInputs in;
        in.ScaleDigits = digits.toStdString();
        in.BarSegments = segments;
        in.FreqMode = frequency;
        ScaleCanvas canvas;
        canvas.KDsetup(in);
        const Face f = faceFor(in.panelSize);
        const std::vector<ScaleLabel>& labels = labelsFor(in);
        QVERIFY(labels.size() >= 7);
        for (const ScaleLabel& l : labels) {
            const QPoint topLeft = pointAt(f, angleAt(f, l.tick, tickCount(in)), 18) - QPoint(l.dx, l.dy);
            const QRect cell(topLeft, QSize(6 * int(std::strlen(l.text)), 12));
            QVERIFY2(countColour(canvas.image(), cell, kBlack) > 5, l.text);
        }
    }

    void pointerMovesAndWipesItsTrail() {
        ScaleCanvas canvas;
        ScaleInputs in;
        canvas.KDsetup(in);
        canvas.KDrun(400, in);
        QCOMPARE(QPoint(canvas.PointerTipX, canvas.PointerTipY), QPoint(159, 34));
        QCOMPARE(QPoint(canvas.PointerBaseX, canvas.PointerBaseY), QPoint(159, 387));
        QCOMPARE(canvas.image().pixel(159, 60), kBlack);
        QCOMPARE(canvas.image().pixel(159, 132), kBlack);

        canvas.KDrun(0, in);
        QCOMPARE(countColour(canvas.image(), QRect(157, 50, 5, 80), kBlack), 0);
        QCOMPARE(canvas.image().pixel(159, 60), kWhite);
        QVERIFY(pointerShowsAt(canvas, 5));
        QVERIFY(pointerShowsAt(canvas, 15));

        // a redraw of the face shows no pointer until the next move
        canvas.KDsetup(in);
        QVERIFY(!pointerShowsAt(canvas, 15));
        canvas.KDrun(800, in);
        QVERIFY(pointerShowsAt(canvas, 15));
        QCOMPARE(canvas.PointerTipX, 298);
    }

    void pointerOffTheScaleStaysSane() {
        ScaleCanvas canvas;
        ScaleInputs in;
        canvas.KDsetup(in);
        canvas.KDrun(400, in);
        for (int position : {INT_MIN, -221, 1021, INT_MAX}) {
            canvas.KDrun(position, in);
            QVERIFY(std::abs(canvas.PointerBaseX) <= 32768 && std::abs(canvas.PointerBaseY) <= 32768);
        }
        canvas.KDrun(400, in);
        QCOMPARE(canvas.image().pixel(159, 60), kBlack);
    }

    // On a screen of pixel ratio 2 the picture has twice the pixels each way and the same layout
    // in logical pixels: every feature lies where the ratio-1 picture has it, drawn finer.
    void faceAtPixelRatioTwo() {
        ScaleInputs in;
        in.MaxLimit = 3000;
        in.SetMaxB = true;
        ScaleCanvas plain, fine;
        plain.KDsetup(in);
        plain.KDrun(400, in);
        in.devicePixelRatio = 2;
        fine.KDsetup(in);
        fine.KDrun(400, in);
        const QImage& a = plain.image();
        const QImage& b = fine.image();
        QCOMPARE(b.size(), QSize(628, 266));
        QCOMPARE(b.deviceIndependentSize(), QSizeF(314, 133));
        QVERIFY(b != a.scaled(b.size()));  // not the small picture stretched
        for (int j : {0, 400, 780, 800}) QCOMPARE(b.pixel(2 * bandPixel(in, j)), a.pixel(bandPixel(in, j)));
        QCOMPARE(b.pixel(2 * 159 + 1, 2 * 60), kBlack);

        fine.KDrun(0, in);  // the trail is wiped at full resolution too
        QCOMPARE(countColour(b, QRect(2 * 157, 100, 10, 160), kBlack), 0);
        in.devicePixelRatio = 1;  // drawn anew for another screen
        fine.KDsetup(in);
        fine.KDrun(400, in);
        QCOMPARE(fine.image(), a);
    }

    void widgetShowsPictureStretched() {
        ScaleCanvas canvas;
        ScaleInputs in;
        canvas.KDsetup(in);
        canvas.KDrun(400, in);
        ScaleImageWidget widget;
        widget.resize(628, 266);
        widget.setImage(canvas.image());
        const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), QSize(628, 266));
        QCOMPARE(shown.pixel(2 * 159, 2 * 60), kBlack);
        QCOMPARE(shown.pixel(2 * 159 + 10, 2 * 60), kWhite);
    }
};

QTEST_MAIN(TestScaleCanvas)
#include "tst_scale_canvas.moc"
