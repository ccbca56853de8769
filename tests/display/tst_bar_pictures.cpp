#include <QProgressBar>
#include <QtTest>
#include <functional>

#include "BarPictures.h"

// A bar painted from pictures and a bar painted by the style, side by side on the same coloured
// ground, must look the same after every change a bar goes through.
class TestBarPictures : public QObject {
    Q_OBJECT

    struct Twins {
        QWidget ground;
        QProgressBar* pictured = new QProgressBar(&ground);
        QProgressBar* styled = new QProgressBar(&ground);

        Twins() {
            QPalette palette = ground.palette();
            palette.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0x00));
            ground.setPalette(palette);
            ground.setAutoFillBackground(true);
            ground.resize(300, 40);
            for (QProgressBar* bar : {pictured, styled}) {
                bar->setRange(0, 40);
                bar->setValue(30);
                bar->setTextVisible(false);
                bar->resize(283, 12);
            }
            pictured->move(3, 4);
            styled->move(3, 24);
            new BarPictures(pictured);
        }
        void apply(const std::function<void(QProgressBar*)>& change) {
            change(pictured);
            change(styled);
        }
        QImage shot(QProgressBar* bar) {
            return ground.grab(bar->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
        }
        // The same pixels, but for the antialiased corners: a picture laid on the ground rounds
        // their blend once more, by one level at most.
        bool alike() {
            const QImage a = shot(pictured);
            const QImage b = shot(styled);
            if (a.size() != b.size()) return false;
            for (int y = 0; y < a.height(); ++y) {
                for (int x = 0; x < a.width(); ++x) {
                    const QRgb p = a.pixel(x, y);
                    const QRgb q = b.pixel(x, y);
                    if (std::abs(qRed(p) - qRed(q)) > 1 || std::abs(qGreen(p) - qGreen(q)) > 1 ||
                        std::abs(qBlue(p) - qBlue(q)) > 1) {
                        qWarning("differs at %d,%d: %08x against %08x", x, y, p, q);
                        return false;
                    }
                }
            }
            return true;
        }
    };

private slots:
    void looksAsTheStyleDrawsIt_data() {
        using Change = std::function<void(QProgressBar*)>;
        QTest::addColumn<QList<Change>>("changes");
        const auto value = [](int v) { return Change([v](QProgressBar* b) { b->setValue(v); }); };
        QTest::newRow("start") << QList<Change>{};
        QTest::newRow("positions back and forth")
            << QList<Change>{value(0), value(1), value(17), value(40), value(17), value(2)};
        QTest::newRow("range") << QList<Change>{value(20), [](QProgressBar* b) { b->setMaximum(80); }};
        QTest::newRow("size") << QList<Change>{value(25), [](QProgressBar* b) { b->resize(140, 16); }};
        QTest::newRow("disabled") << QList<Change>{value(25), [](QProgressBar* b) { b->setEnabled(false); }};
        QTest::newRow("palette") << QList<Change>{value(25), [](QProgressBar* b) {
                                                      QPalette p = b->palette();
                                                      p.setColor(QPalette::Highlight, Qt::darkGreen);
                                                      b->setPalette(p);
                                                  }};
    }
    void looksAsTheStyleDrawsIt() {
        QFETCH(QList<std::function<void(QProgressBar*)>>, changes);
        Twins twins;
        QVERIFY(twins.alike());
        for (const auto& change : changes) {
            twins.apply(change);
            QVERIFY(twins.alike());
        }
    }
};

QTEST_MAIN(TestBarPictures)
#include "tst_bar_pictures.moc"
