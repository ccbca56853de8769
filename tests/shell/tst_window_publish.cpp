// The window publishing what it receives: readings reach a subscriber, the link picture's tooltip
// shows the broker and the counts, and a broker that goes away is reported once, without a stop.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include "../cli/HeadlessTestSupport.h"
#include "../serial/PseudoTerminal.h"
#include "LocalBroker.h"
#include "WindowTestSupport.h"

namespace {

long readings(const std::vector<Subscriber::Message>& m) {
    return std::count_if(m.begin(), m.end(),
                         [](auto& x) { return QByteArray::fromStdString(x.topic).endsWith("/reading"); });
}

}  // namespace

class WindowPublish : public QObject {
    Q_OBJECT

private slots:
    void publishesAndReportsALostBrokerOnce() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber sub(broker, "w/#", "watcher");
        // subscribed before anything is published: a message before that is not kept for it
        QVERIFY(sub.waitFor([](auto&) { return true; }));
        PseudoTerminal line;
        auto w = makeWindow({"--port", "COM1=" + line.slavePath, "--publish", broker.url() + "/w"});
        w->show();
        w->BTCon1Click();
        // one frame at a time, each taken by the window before the next: a busy machine would
        // otherwise hand several over in one poll
        auto send = [&line, &w](int frames) {
            for (int i = 0; i < frames; ++i) {
                const uint64_t before = w->lineWatch().counts().wholeFrames;
                const std::string f = segmentBytes(i % 2 ? "49F3F3F3F00040" : "705DB1F2700040");
                QCOMPARE(::write(line.master, f.data(), f.size()), ssize_t(f.size()));
                QTRY_COMPARE_WITH_TIMEOUT(w->lineWatch().counts().wholeFrames, before + 1, 30000);
            }
        };
        send(6);
        const std::string name = "KR31E-" + line.slavePath.substr(line.slavePath.rfind('/') + 1) + "@" +
                                 QSysInfo::machineHostName().section('.', 0, 0).toStdString();
        QVERIFY(sub.waitFor([](auto& m) { return readings(m) >= 6; }));
        QCOMPARE(sub.payloads(name + "/reading").size(), std::size_t(6));
        auto tip = [&w] { return w->findChild<QWidget*>("CONok")->toolTip(); };
        const QString broker1 = QString::fromStdString(broker.url()) + " as " + QString::fromStdString(name);
        QTRY_VERIFY2(tip().contains(broker1 + ": connected; 6 readings sent, 0 waiting, 0 dropped"),
                     qPrintable(tip()));

        broker.stop();
        auto boxes = [&w] { return w->findChildren<QMessageBox*>(QStringLiteral("BrokerLost")); };
        QTRY_COMPARE(boxes().size(), 1);
        QVERIFY(!boxes().front()->isModal() &&
                boxes().front()->text().contains(QString::fromStdString(broker.url())));
        QVERIFY(boxes().front()->text().contains("the oldest are dropped first"));
        send(3);  // the readings go on, and wait for the broker
        QTRY_VERIFY2(tip().contains("not reached") && tip().contains("3 waiting"), qPrintable(tip()));
        QTest::qWait(1500);  // another attempt fails: still one box
        QCOMPARE(boxes().size(), 1);

        QVERIFY(broker.start());
        QVERIFY(sub.waitFor([](auto& m) { return readings(m) >= 9; }, std::chrono::seconds(15)));
        QCOMPARE(sub.payloads(name + "/reading").size(), std::size_t(9));
        QTRY_VERIFY2(tip().contains("connected; 9 readings sent"), qPrintable(tip()));
        // the box goes with the broker's return, for a short note of what was sent meanwhile
        QTRY_COMPARE(boxes().size(), 0);
        QMessageBox* back = nullptr;
        QTRY_VERIFY((back = w->findChild<QMessageBox*>(QStringLiteral("BrokerBack"))));
        QVERIFY2(!back->isModal() && back->text().contains("is back: 3 readings sent"),
                 qPrintable(back->text()));

        // a broker that stops answering holds the window's close up for half a second at most
        broker.pause();
        send(2);
        QElapsedTimer closing;
        closing.start();
        w.reset();
        QVERIFY2(closing.elapsed() <= 500, qPrintable(QString::number(closing.elapsed())));
    }
};

QTEST_MAIN(WindowPublish)
#include "tst_window_publish.moc"
