#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QtTest>

#include "FrameBorderOnly.h"

namespace {

class CountedFrame : public QFrame {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        QFrame::paintEvent(event);
    }
};

}  // namespace

// A frame under a transparent child that changes is left unpainted while the change stays inside
// its border, is painted when a change reaches the border, and shows afterwards just what a
// repaint of the whole frame shows.
class TestFrameBorder : public QObject {
    Q_OBJECT

private slots:
    void paintsItsBorderOnlyWhenReached_data() {
        QTest::addColumn<QRect>("child");
        QTest::addColumn<bool>("framePainted");
        QTest::newRow("inside") << QRect(10, 10, 60, 20) << false;
        QTest::newRow("touching the inside edge") << QRect(2, 2, 60, 20) << false;
        QTest::newRow("over the border") << QRect(1, 10, 60, 20) << true;
        QTest::newRow("past the bottom right") << QRect(70, 40, 60, 30) << true;
    }
    void paintsItsBorderOnlyWhenReached() {
        QFETCH(QRect, child);
        QFETCH(bool, framePainted);
        QWidget window;
        window.resize(160, 100);
        CountedFrame frame;
        frame.setParent(&window);
        frame.setGeometry(10, 10, 120, 60);
        frame.setFrameShape(QFrame::WinPanel);
        frame.setFrameShadow(QFrame::Sunken);
        frame.setAutoFillBackground(true);
        frame.setPalette(QPalette(Qt::black, QColor(0xC0, 0xD8, 0xC0)));
        new FrameBorderOnly(&frame);
        QLabel label(QStringLiteral("-3999"), &frame);
        label.setGeometry(child);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(frame.paints > 0);
        QTest::qWait(50);

        frame.paints = 0;
        label.setText(QStringLiteral("12.345"));
        QTest::qWait(50);
        QCOMPARE(frame.paints > 0, framePainted);
        const QImage partly = window.screen()->grabWindow(window.winId()).toImage();

        frame.update();
        QTest::qWait(50);
        QVERIFY(frame.paints > 0);
        QCOMPARE(partly, window.screen()->grabWindow(window.winId()).toImage());
    }
};

QTEST_MAIN(TestFrameBorder)
#include "tst_frame_border.moc"
