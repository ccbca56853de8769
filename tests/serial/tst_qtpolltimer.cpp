#include <unistd.h>

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

    // A resting timer costs no ticks on a quiet line; the first byte wakes it, and it ticks a
    // period later (with whatever came by then) and on at its period. A handle that wakes it with
    // nothing to read cannot make it tick more than once a period; killing the timer stops the
    // watching.
    void restsUntilTheLineHasBytes() {
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        QElapsedTimer clock;
        std::vector<qint64> ticks;
        QtPollTimer timer([&](unsigned) { ticks.push_back(clock.elapsed()); });
        timer.setTimer(1, 40);
        QVERIFY(!timer.restUntilReadable(2, fds[0]));  // not set
        QVERIFY(timer.restUntilReadable(1, fds[0]));
        QVERIFY(timer.isActive(1) && timer.resting(1));
        QTest::qWait(200);
        QVERIFY(ticks.empty());
        clock.start();
        QCOMPARE(::write(fds[1], "x", 1), ssize_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(!ticks.empty(), 1000);
        QVERIFY2(ticks[0] >= 35, qPrintable(QString::number(ticks[0])));
        QVERIFY(!timer.resting(1));
        // the byte is never read: the line says it is readable all the time
        QVERIFY(timer.restUntilReadable(1, fds[0]));
        const std::size_t rested = ticks.size();
        QTest::qWait(300);
        QVERIFY2(ticks.size() <= rested + 300 / 40 + 1, qPrintable(QString::number(ticks.size())));
        timer.killTimer(1);
        QVERIFY(!timer.isActive(1));
        const std::size_t seen = ticks.size();
        QTest::qWait(100);
        QCOMPARE(ticks.size(), seen);
        ::close(fds[0]);
        ::close(fds[1]);
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
