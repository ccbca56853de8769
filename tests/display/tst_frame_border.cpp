#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QtTest>
#include <functional>

#include "FrameBorderOnly.h"

namespace {

using Change = std::function<void(QFrame*, QLabel*)>;

}  // namespace

// A frame painted from a picture of its border and a frame painting itself, each under a
// transparent label, look the same on screen after every change, whether the label's repaint stays
// inside the border or reaches it.
class TestFrameBorder : public QObject {
    Q_OBJECT

private slots:
    void looksAsTheFrameDrawsItself_data() {
        QTest::addColumn<QRect>("child");
        QTest::addColumn<Change>("change");
        const Change text = [](QFrame*, QLabel* l) { l->setText(QStringLiteral("12.345")); };
        QTest::newRow("label inside") << QRect(10, 10, 60, 20) << text;
        QTest::newRow("label on the inside edge") << QRect(2, 2, 60, 20) << text;
        QTest::newRow("label over the border") << QRect(1, 10, 60, 20) << text;
        QTest::newRow("label past the bottom right") << QRect(70, 40, 60, 30) << text;
        QTest::newRow("frame resized")
            << QRect(70, 40, 60, 30) << Change([](QFrame* f, QLabel*) { f->resize(100, 50); });
        QTest::newRow("palette") << QRect(70, 40, 60, 30) << Change([](QFrame* f, QLabel*) {
            QPalette p = f->palette();
            p.setColor(QPalette::Dark, Qt::red);
            p.setColor(QPalette::Light, Qt::blue);
            f->setPalette(p);
        });
        QTest::newRow("raised") << QRect(10, 10, 60, 20)
                                << Change([](QFrame* f, QLabel*) { f->setFrameShadow(QFrame::Raised); });
    }
    void looksAsTheFrameDrawsItself() {
        QFETCH(QRect, child);
        QFETCH(Change, change);
        QWidget window;
        window.resize(300, 100);
        QFrame pictured, plain;
        QLabel* labels[2];
        int i = 0;
        for (QFrame* frame : {&pictured, &plain}) {
            frame->setParent(&window);
            frame->setGeometry(10 + 140 * i, 10, 120, 60);
            frame->setFrameShape(QFrame::WinPanel);
            frame->setFrameShadow(QFrame::Sunken);
            frame->setAutoFillBackground(true);
            // light and dark shades of the ground, as a sunken or raised border shows them
            frame->setPalette(QPalette(QColor(0xC0, 0xD8, 0xC0)));
            labels[i] = new QLabel(QStringLiteral("-3999"), frame);
            labels[i]->setGeometry(child);
            ++i;
        }
        new FrameBorderOnly(&pictured);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(50);

        change(&pictured, labels[0]);
        change(&plain, labels[1]);
        QTest::qWait(50);
        const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
        const QRect area(0, 0, 140, 100);
        QCOMPARE(shown.copy(area), shown.copy(area.translated(140, 0)));
    }
};

QTEST_MAIN(TestFrameBorder)
#include "tst_frame_border.moc"
