#include <QProgressBar>
#include <QtTest>
#include <functional>

#include "BarPictures.h"

using Change = std::function<void(QProgressBar*)>;

// A bar painted from pictures and a bar painted by the style, on the same coloured ground, look
// the same after every change a bar goes through (but for antialiased corners: a picture laid on
// the ground rounds their blend once more, by one level at most).
class TestBarPictures : public QObject {
    Q_OBJECT

private slots:
    void looksAsTheStyleDrawsIt_data() {
        QTest::addColumn<QList<Change>>("changes");
        const auto value = [](int v) { return Change([v](QProgressBar* b) { b->setValue(v); }); };
        QTest::newRow("positions back and forth") << QList<Change>{value(0), value(17), value(40), value(17)};
        QTest::newRow("range") << QList<Change>{[](QProgressBar* b) { b->setMaximum(80); }};
        QTest::newRow("size") << QList<Change>{[](QProgressBar* b) { b->resize(140, 16); }};
        QTest::newRow("disabled") << QList<Change>{[](QProgressBar* b) { b->setEnabled(false); }};
        QTest::newRow("palette") << QList<Change>{[](QProgressBar* b) {
            QPalette p = b->palette();
            p.setColor(QPalette::Highlight, Qt::darkGreen);
            b->setPalette(p);
        }};
    }
    void looksAsTheStyleDrawsIt() {
        QFETCH(QList<Change>, changes);
        QWidget ground;
        ground.setPalette(QPalette(Qt::black, Qt::yellow));
        ground.setAutoFillBackground(true);
        ground.resize(300, 40);
        QProgressBar pictured(&ground), styled(&ground);
        for (QProgressBar* bar : {&pictured, &styled}) {
            bar->setGeometry(3, bar == &styled ? 24 : 4, 283, 12);
            bar->setRange(0, 40);
            bar->setValue(30);
            bar->setTextVisible(false);
        }
        new BarPictures(&pictured);
        const auto alike = [&] {
            const QImage a = ground.grab(pictured.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
            const QImage b = ground.grab(styled.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
            for (int i = 0; a.size() == b.size() && i < a.width() * a.height(); ++i) {
                const QRgb p = a.pixel(i % a.width(), i / a.width()),
                           q = b.pixel(i % a.width(), i / a.width());
                if (std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))}) > 1)
                    return false;
            }
            return a.size() == b.size();
        };
        QVERIFY(alike());
        for (const Change& change : changes) {
            change(&pictured);
            change(&styled);
            QVERIFY(alike());
        }
    }
};

QTEST_MAIN(TestBarPictures)
#include "tst_bar_pictures.moc"
