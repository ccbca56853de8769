#include <QtTest>

#include "QtPollTimer.h"

class TestQtPollTimer : public QObject {
    Q_OBJECT

private slots:
    void ticksCarryTheTimerMessage() {
        std::vector<unsigned> messages;
        QtPollTimer timer([&](unsigned m) { messages.push_back(m); });
        timer.setTimer(1, 20);
        QVERIFY(timer.isActive(1));
        QCOMPARE(timer.interval(1), 20);
        QTRY_VERIFY_WITH_TIMEOUT(messages.size() >= 3, 2000);
        for (unsigned m : messages) QCOMPARE(m, WM_TIMER);

        timer.killTimer(1);
        QVERIFY(!timer.isActive(1));
        QCOMPARE(timer.interval(1), 0);
        const std::size_t seen = messages.size();
        QTest::qWait(80);
        QCOMPARE(messages.size(), seen);

        // Setting it again restarts it with the new period; a zero period does not spin.
        timer.setTimer(1, 0);
        QCOMPARE(timer.interval(1), 10);
        timer.setTimer(1, 30);
        QCOMPARE(timer.interval(1), 30);
        QTRY_VERIFY_WITH_TIMEOUT(messages.size() > seen, 2000);
    }

    void tickMayKillItsOwnTimer() {
        QtPollTimer* self = nullptr;
        int ticks = 0;
        QtPollTimer timer([&](unsigned) {
            ++ticks;
            self->killTimer(1);
        });
        self = &timer;
        timer.setTimer(1, 10);
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 2000);
        QTest::qWait(50);
        QCOMPARE(ticks, 1);
        QVERIFY(!timer.isActive(1));
        timer.killTimer(7);  // never set: nothing happens
    }
};

QTEST_GUILESS_MAIN(TestQtPollTimer)
#include "tst_qtpolltimer.moc"
