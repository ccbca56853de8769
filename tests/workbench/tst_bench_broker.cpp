#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "BenchModel.h"
#include "BenchSession.h"
#include "BenchTestSupport.h"
#include "LocalBroker.h"

using dmmsim::SimFunction;

namespace {

// Publishes one retained message as a meter announcing itself would, and waits until the broker
// has it.
bool publishRetained(const LocalBroker& broker, const std::string& topic, const std::string& payload) {
    mosquitto_lib_init();
    mosquitto* m = mosquitto_new("announcer", true, nullptr);
    bool sent = false;
    mosquitto_publish_callback_set(m, [](mosquitto*, void* done, int) { *static_cast<bool*>(done) = true; });
    mosquitto_user_data_set(m, &sent);
    int mid = 0;
    const bool ok = mosquitto_connect(m, "127.0.0.1", broker.port(), 30) == MOSQ_ERR_SUCCESS &&
                    mosquitto_publish(m, &mid, topic.c_str(), int(payload.size()), payload.data(), 1, true) ==
                        MOSQ_ERR_SUCCESS;
    for (int k = 0; ok && !sent && k < 100; ++k) mosquitto_loop(m, 100, 1);
    mosquitto_disconnect(m);
    mosquitto_destroy(m);
    return ok && sent;
}

}  // namespace

class BenchBrokerTest : public QObject {
    Q_OBJECT
private slots:
#ifdef DMMVIEW_PATH
    // Two headless publishers: the bench finds both by their status, shows them online with their
    // readings, and one offline when its publisher ends. A headless bench over the same broker
    // computes P from them once they are found and publishes it as a meter.
    void discoversPublishersAndPublishesMath() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        const QString url = QString::fromStdString(broker.url());
        FedLine voltage(
            "KR31G", SimFunction::Volts, [](int) { return 12.0; }, 200);
        FedLine current(
            "KR31G", SimFunction::MilliAmps, [](int) { return 0.5; }, 200);
        auto publisher = [&](const FedLine& line, const QString& id) {
            auto p = std::make_unique<QProcess>();
            p->setWorkingDirectory(dir.path());
            p->start(DMMVIEW_PATH, {"--decode", QString::fromStdString(line.path()), "--model", "KR31G",
                                    "--publish", url + "/lab", "--publish-id", id});
            return p;
        };
        auto u = publisher(voltage, "U");
        auto i = publisher(current, "I");
        voltage.start();
        current.start();

        Subscriber heard(broker, "out/+/reading", "listener");
        // subscribed before anything is published: a message before that is not kept for it
        QVERIFY(heard.waitFor([](auto&) { return true; }));
        QProcess bench;
        bench.setWorkingDirectory(dir.path());
        bench.start(DMMVIEW_PATH,
                    {"--subscribe", url + "/lab", "--math", "P=U*I", "--publish", url + "/out"});

        BenchModel model;
        BenchSession session(model);
        SubscribeRequest request;
        request.url = *parseBrokerUrl(broker.url() + "/lab", *std::make_unique<std::string>());
        session.addBroker(request);
        QVERIFY(session.addMath("P", "U * I").error.isEmpty());  // waits for U and I
        QTRY_VERIFY_WITH_TIMEOUT(model.channelId("U") > 0 && model.channelId("I") > 0, 20000);
        const int uId = model.channelId("U"), iId = model.channelId("I");
        QTRY_VERIFY_WITH_TIMEOUT(
            model.isOnline(uId) && model.isOnline(iId) && model.latest(uId) && model.latest(iId), 20000);
        QCOMPARE(model.latest(iId)->display, QString("500.0 mA"));
        QCOMPARE(model.latest(iId)->value, 0.5);
        QTRY_COMPARE_WITH_TIMEOUT(
            model.latest(model.channelId("P")) ? model.latest(model.channelId("P"))->display : QString(),
            QString("6.000 W"), 10000);
        QVERIFY(session.waitingMaths().isEmpty());

        // the headless bench's P, as a meter of the broker
        QVERIFY(heard.waitFor(
            [](const auto& messages) {
                for (const auto& m : messages) {
                    if (m.topic == "out/P/reading" &&
                        m.payload.find("\"display\":\"6.000\"") != std::string::npos &&
                        m.payload.find("\"unit\":\"W\"") != std::string::npos)
                        return true;
                }
                return false;
            },
            std::chrono::milliseconds(20000)));

        ::kill(pid_t(u->processId()), SIGTERM);
        QVERIFY(u->waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isOnline(uId), 10000);
        QVERIFY(model.isOnline(iId));
        QVERIFY(!model.isOnline(model.channelId("P")));

        ::kill(pid_t(bench.processId()), SIGTERM);
        QVERIFY(bench.waitForFinished(15000));
        QCOMPARE(bench.exitCode(), 0);
        const QString out = QString::fromUtf8(bench.readAllStandardOutput());
        QVERIFY2(out.contains(QRegularExpression("\nP\t\\d+\t\\d+\t0\t6\t0\t6\t6\tW\n")), qPrintable(out));
        ::kill(pid_t(i->processId()), SIGTERM);
        QVERIFY(i->waitForFinished(10000));
    }

    // A meter that announced itself and then sent nothing is named at the end, and fails the run.
    void announcedButSilentMeterReported() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        QVERIFY(publishRetained(broker, "lab/ghost/status", "online"));
        QProcess bench;
        bench.setWorkingDirectory(dir.path());
        bench.start(DMMVIEW_PATH, {"--subscribe", QString::fromStdString(broker.url()) + "/lab", "--record",
                                   dir.filePath("lab.csv")});
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += QString::fromUtf8(bench.readAllStandardError())).contains("ghost: found at"), 20000);
        ::kill(pid_t(bench.processId()), SIGTERM);
        QVERIFY(bench.waitForFinished(15000));
        err += QString::fromUtf8(bench.readAllStandardError());
        QCOMPARE(bench.exitCode(), 1);
        QVERIFY2(err.contains("ghost: announced itself on the broker but sent no reading\n"),
                 qPrintable(err));
    }
#endif
};

QTEST_MAIN(BenchBrokerTest)
#include "tst_bench_broker.moc"
