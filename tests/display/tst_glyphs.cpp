#include <QPainter>
#include <QtTest>
#include <cmath>

#include "LcdGlyphs.h"
#include "LcdLabel.h"
#include "LinkImages.h"

namespace {

const QString kTableCharacters = QStringLiteral("0123456789@-*#?&)+\"!$(%/,<>");

// Black text on white, the first cell's top-left at (margin, margin).
QImage render(const QString& text, qreal height, bool bold = false, bool italic = false, int margin = 4) {
    const int w = int(std::ceil(LcdGlyphs::textWidth(text, height) + height)) + 2 * margin;
    const int h = LcdGlyphs::lineHeight(height) + 2 * margin;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    LcdGlyphs::drawText(p, QPointF(margin, margin), text, height, bold, italic, Qt::black);
    return img;
}

bool dark(QRgb px, int limit = 128) {
    return qGray(px) < limit;
}

int inkCount(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += dark(img.pixel(x, y)) ? 1 : 0;
    return n;
}

QRect inkBounds(const QImage& img, int limit = 250) {
    QRect r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (dark(img.pixel(x, y), limit)) r |= QRect(x, y, 1, 1);
    return r;
}

// Every clearly inked pixel of `a` is inked in `b` too.
bool inkIsSubset(const QImage& a, const QImage& b) {
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (dark(a.pixel(x, y), 100) && !dark(b.pixel(x, y), 160)) return false;
    return true;
}

}  // namespace

class TstGlyphs : public QObject {
    Q_OBJECT

private slots:
    void everyCharacterDrawsInsideItsCell_data() {
        QTest::addColumn<QChar>("c");
        QString all = kTableCharacters;
        for (char c = 'A'; c <= 'Z'; ++c) all += QChar(c);
        for (char c = 'a'; c <= 'z'; ++c) all += QChar(c);
        for (QChar c : all) QTest::newRow(QString(c).toUtf8().constData()) << c;
    }

    // Labels on the form are sized to the advance of their captions; a glyph spilling out of its
    // cell would be clipped there. The smallest and the largest heights in use are checked.
    void everyCharacterDrawsInsideItsCell() {
        QFETCH(QChar, c);
        QVERIFY(LcdGlyphs::hasGlyph(c));
        for (int height : {12, 35, 100}) {
            for (bool bold : {false, true}) {
                const int margin = 4;
                const QImage img = render(QString(c), height, bold, false, margin);
                QVERIFY2(inkCount(img) > 0, qPrintable(QStringLiteral("no ink at %1 px").arg(height)));
                const QRect ink = inkBounds(img).translated(-margin, -margin);
                const qreal adv = LcdGlyphs::advance(c, height);
                QVERIFY2(ink.left() >= 0 && ink.right() <= std::ceil(adv),
                         qPrintable(QStringLiteral("%1 px: ink x %2..%3, advance %4")
                                        .arg(height)
                                        .arg(ink.left())
                                        .arg(ink.right())
                                        .arg(adv)));
                QVERIFY(ink.top() >= 0 && ink.bottom() < LcdGlyphs::lineHeight(height));
            }
        }
    }

    void digitsAreSevenSegmentPatterns() {
        QVector<QImage> digits;
        for (char d = '0'; d <= '9'; ++d) digits << render(QString(QChar(d)), 60);
        for (int i = 0; i < 10; ++i)
            for (int j = i + 1; j < 10; ++j)
                QVERIFY2(digits[i] != digits[j], qPrintable(QString("%1 = %2").arg(i).arg(j)));

        // 8 lights every segment; 1 is part of 7, 4, 9 and 0; the overload L is not 0 but part of it
        for (int i = 0; i < 10; ++i)
            QVERIFY2(inkIsSubset(digits[i], digits[8]), qPrintable(QString::number(i)));
        for (int i : {0, 3, 4, 7, 9}) QVERIFY(inkIsSubset(digits[1], digits[i]));
        QVERIFY(!inkIsSubset(digits[1], digits[2]));
        const QImage letterL = render("@", 60);
        QVERIFY(letterL != digits[0]);
        QVERIFY(inkIsSubset(letterL, digits[0]) && inkIsSubset(letterL, digits[6]));
        QVERIFY(!inkIsSubset(digits[0], letterL));
        QVERIFY(!inkIsSubset(letterL, digits[1]));
    }

    // Each indicator names its own port; the 1 is a single narrow stroke.
    void portIndicatorsAreTellApart() {
        const QString ports = QStringLiteral("/,<>");
        QVector<QImage> captions;
        for (QChar c : ports) captions << render(QStringLiteral("COM ") + c, 24, true, true);
        for (int i = 0; i < 4; ++i)
            for (int j = i + 1; j < 4; ++j) QVERIFY(captions[i] != captions[j]);
        const int oneWidth = inkBounds(render("/", 24, true)).width();
        for (QChar c : ports.mid(1)) QVERIFY(oneWidth < inkBounds(render(QString(c), 24, true)).width());
    }

    void glyphsScaleWithHeight() {
        for (const QString& text : {QStringLiteral("8"), QStringLiteral("AUTO"), QStringLiteral("k*")}) {
            const QRect small = inkBounds(render(text, 25), 128);
            const QRect large = inkBounds(render(text, 100), 128);
            QVERIFY2(std::abs(large.height() - 4 * small.height()) <= 4, qPrintable(text));
            QVERIFY2(std::abs(large.width() - 4 * small.width()) <= 4, qPrintable(text));
            QCOMPARE(LcdGlyphs::textWidth(text, 100), 4 * LcdGlyphs::textWidth(text, 25));
        }
        // the 100-px digits must fit the 38-px digit places of the panel
        QVERIFY(LcdGlyphs::advance('8', 100) <= 38);
    }

    void boldIsHeavierAndColourIsHonoured() {
        QVERIFY(inkCount(render("AUTO", 19, true)) > inkCount(render("AUTO", 19, false)) * 1.15);
        QVERIFY(inkCount(render("8", 50, true)) > inkCount(render("8", 50, false)));

        QImage img(40, 40, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        LcdGlyphs::drawText(p, QPointF(2, 2), "8", 30, false, false, Qt::red);
        p.end();
        bool red = false;
        for (int y = 0; y < img.height() && !red; ++y)
            for (int x = 0; x < img.width() && !red; ++x) red = img.pixel(x, y) == qRgb(255, 0, 0);
        QVERIFY(red);
    }

    void unknownCharactersKeepTheirPlace() {
        const QString strangers = QStringLiteral("~\u20ac\u4e2d") + QChar(0) + QChar(0xFFFF);
        for (QChar c : strangers) {
            QVERIFY(!LcdGlyphs::hasGlyph(c));
            QVERIFY(LcdGlyphs::advance(c, 40) > 0);
            QCOMPARE(inkCount(render(QString(c), 40)), 0);
        }
        // the glyph after an unknown character is drawn where it would be after a digit
        const QChar unknown(0x4e2d);
        const QImage mixed = render(QString("1") + unknown + "2", 40);
        QImage expected(mixed.size(), QImage::Format_RGB32);
        expected.fill(Qt::white);
        QPainter p(&expected);
        LcdGlyphs::drawText(p, QPointF(4, 4), "1", 40, false, false, Qt::black);
        const qreal x2 = 4 + LcdGlyphs::advance('1', 40) + LcdGlyphs::advance(unknown, 40);
        LcdGlyphs::drawText(p, QPointF(x2, 4), "2", 40, false, false, Qt::black);
        p.end();
        QCOMPARE(mixed, expected);
    }

    void labelDrawsItsCaptionLiterally() {
        LcdLabel label;
        label.setGeometry(0, 0, 60, 50);
        label.setGlyphHeight(32);
        auto grab = [&label] {
            QImage img(label.size(), QImage::Format_RGB32);
            img.fill(Qt::white);
            label.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
            return img;
        };

        // an empty caption paints nothing and keeps the label where it is
        QCOMPARE(inkCount(grab()), 0);
        label.setText("&");
        QCOMPARE(label.text(), QStringLiteral("&"));
        QImage expected(label.size(), QImage::Format_RGB32);
        expected.fill(Qt::white);
        QPainter p(&expected);
        LcdGlyphs::drawText(p, QPointF(0, 0), "&", 32, false, false, Qt::black);
        p.end();
        QCOMPARE(grab(), expected);
        QVERIFY(inkCount(expected) > 0);

        label.setText("");
        QCOMPARE(inkCount(grab()), 0);
        QCOMPARE(label.geometry(), QRect(0, 0, 60, 50));
    }

    void linkPicturesDifferOnlyInTheirScreens() {
        const QImage good = LinkImages::image(true);
        const QImage lost = LinkImages::image(false);
        QCOMPARE(good.size(), QSize(25, 24));
        QCOMPARE(lost.size(), QSize(25, 24));

        auto brightGreen = [](QRgb px) { return qGreen(px) > 180 && qRed(px) < 120 && qBlue(px) < 120; };
        int greenGood = 0, greenLost = 0, changed = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 25; ++x) {
                greenGood += brightGreen(good.pixel(x, y)) ? 1 : 0;
                greenLost += brightGreen(lost.pixel(x, y)) ? 1 : 0;
                if (good.pixel(x, y) != lost.pixel(x, y)) {
                    ++changed;
                    // what changes is screen: lit green or its glare against dark
                    QVERIFY(qGreen(good.pixel(x, y)) > qGreen(lost.pixel(x, y)));
                }
            }
        }
        QVERIFY(greenGood >= 40);  // two lit screens
        QCOMPARE(greenLost, 0);
        QVERIFY(changed < 25 * 24 / 4);
    }
};

QTEST_MAIN(TstGlyphs)
#include "tst_glyphs.moc"
