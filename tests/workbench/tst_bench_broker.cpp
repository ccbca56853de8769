#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <fstream>
#include <optional>
#include <thread>

#include "BenchModel.h"
#include "BenchSession.h"
#include "BenchTestSupport.h"
#include "BrokerIntake.h"
#include "LocalBroker.h"
#include "MqttPublisher.h"
#include "ReadingMessage.h"

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

// The fields of an RFC 4180 file, row by row; nothing when a quote is left open or a field holds
// a control character.
std::optional<QVector<QStringList>> csvRows(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QString text = QString::fromUtf8(file.readAll());
    QVector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row << field;
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            ++i;
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0)) {
            return std::nullopt;
        } else {
            field += c;
        }
    }
    if (quoted || !field.isEmpty() || !row.isEmpty()) return std::nullopt;
    return rows;
}

// The numbers the CSV holds for one channel, in the file's order.
QVector<double> numbersOf(const QVector<QStringList>& rows, const QString& channel) {
    QVector<double> numbers;
    for (const QStringList& r : rows)
        if (r.size() > 2 && r[1] == channel && !r[2].isEmpty()) numbers << QLocale::c().toDouble(r[2]);
    return numbers;
}

// A reading message as the publisher writes it: `value` volts, `seq`, dated `atMs`.
std::string readingAt(uint64_t seq, double value, qint64 atMs) {
    MeterReading r;
    r.value = value;
    r.display = QByteArray::number(value).toStdString();
    r.unit = "V";
    const QString time = QDateTime::fromMSecsSinceEpoch(atMs, Qt::UTC).toString(Qt::ISODateWithMs);
    return readingJson(seq, time.toStdString(), r).toStdString();
}

SubscribeRequest subscription(const LocalBroker& broker, const std::string& prefix, const std::string& id) {
    SubscribeRequest request;
    std::string error;
    request.url = *parseBrokerUrl(broker.url() + "/" + prefix, error);
    request.clientId = id;
    return request;
}

// A bench in this process that subscribes to PREFIX "lab" of a broker of its own and records.
struct RecordingBench {
    QTemporaryDir dir;
    LocalBroker broker{dir.path().toStdString()};
    BenchModel model;
    BenchSession session{model};
    BrokerMeterSource* source = nullptr;
    QString csv = dir.filePath("bench.csv");

    bool start(const std::string& clientId) {
        if (!broker.start()) return false;
        source = session.addBroker(subscription(broker, "lab", clientId));
        return session.startRecording(csv);
    }
};

}  // namespace

class BenchBrokerTest : public QObject {
    Q_OBJECT
private slots:
    // A reading sent twice (same seq) and an older one after a newer: the count, the statistics
    // and the recording hold each reading once, in order.
    void readingsSentAgainAreTakenOnce() {
        RecordingBench bench;
        QVERIFY(bench.start("bench-once"));
        BrokerMeterSource* source = bench.source;
        BenchModel& model = bench.model;
        QTRY_VERIFY_WITH_TIMEOUT(source->connected(), 20000);
        RawPublisher meter(bench.broker, "m1-publisher");
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 10000;
        meter.publish("lab/m1/status", "online", true);
        // 1, 2, 2 again, 3, 2 again after 3
        const std::pair<int, double> sent[] = {{1, 1.0}, {2, 2.0}, {2, 2.0}, {3, 4.0}, {2, 2.0}};
        for (const auto& [seq, value] : sent)
            meter.publish("lab/m1/reading", readingAt(seq, value, t0 + seq * 100));
        QVERIFY(meter.waitAcknowledged());
        const BrokerIntake& intake = source->intake();
        QTRY_VERIFY_WITH_TIMEOUT(
            intake.counts().readings + intake.counts().duplicates + intake.counts().older == 5, 20000);
        QCOMPARE(intake.counts().readings, uint64_t(3));
        QCOMPARE(intake.counts().duplicates, uint64_t(2));
        const int id = model.channelId("m1");
        QCOMPARE(model.readingCount(id), uint64_t(3));
        const ChannelStats stats = model.statistics(id);
        QCOMPARE(stats.count, uint64_t(3));
        QCOMPARE(stats.mean, 7.0 / 3);
        QCOMPARE(stats.max, 4.0);
        QVERIFY(bench.session.finishRecording());
        const auto rows = csvRows(bench.csv);
        QVERIFY(rows);
        QCOMPARE(numbersOf(*rows, "m1"), (QVector<double>{1.0, 2.0, 4.0}));
    }

    // A broker with persistence restarted for 10 s while a publisher sends and the bench
    // records: the bench's session waits at the broker, and the recording holds every seq once.
    void brokerRestartLosesNoReading() {
        RecordingBench bench;
        QVERIFY(bench.start("bench-restart"));
        QTRY_VERIFY_WITH_TIMEOUT(bench.source->connected(), 20000);
        PublisherSettings s;
        std::string error;
        s.url = *parseBrokerUrl(bench.broker.url(), error);
        s.clientId = "p-restart";
        s.readingTopic = "lab/p/reading";
        s.statusTopic = "lab/p/status";
        MqttPublisher publisher(s);
        QVERIFY(publisher.waitUntilTried(std::chrono::seconds(10)));
        const int total = 1500;
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
        std::atomic<int> sent{0};
        std::thread sender([&] {
            for (int seq = 1; seq <= total; ++seq) {
                publisher.publish(QByteArray::fromStdString(readingAt(seq, seq, t0 + seq * 10)));
                sent = seq;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(
            bench.model.channelId("p") > 0 && bench.model.readingCount(bench.model.channelId("p")) >= 100,
            20000);
        bench.broker.stop();
        QTest::qWait(10000);
        QVERIFY(bench.broker.start());
        sender.join();
        const int id = bench.model.channelId("p");
        QTRY_VERIFY_WITH_TIMEOUT(bench.model.readingCount(id) >= uint64_t(total), 90000);
        QVERIFY(bench.session.finishRecording());
        const auto rows = csvRows(bench.csv);
        QVERIFY(rows);
        QVector<double> expected;
        for (int seq = 1; seq <= total; ++seq) expected << seq;
        QCOMPARE(numbersOf(*rows, "p"), expected);
    }

    // The broker lost takes its meters offline with its reason; a meter's own "offline" says so;
    // a retained "offline" of a meter long gone makes no channel.
    void offlineSaysWhy() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        {
            RawPublisher gone(broker, "gone");
            gone.publish("lab/old/status", "offline", true);
            QVERIFY(gone.waitAcknowledged());
        }
        BenchModel model;
        BenchSession session(model);
        BrokerMeterSource* source = session.addBroker(subscription(broker, "lab", "bench-why"));
        RawPublisher meters(broker, "meters");
        meters.publish("lab/a/status", "online", true);
        meters.publish("lab/b/status", "online", true);
        QVERIFY(meters.waitAcknowledged());
        QTRY_VERIFY_WITH_TIMEOUT(model.channelId("a") > 0 && model.channelId("b") > 0 &&
                                     model.isOnline(model.channelId("a")) &&
                                     model.isOnline(model.channelId("b")),
                                 20000);
        const int a = model.channelId("a"), b = model.channelId("b");
        meters.publish("lab/b/status", "offline", true);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isOnline(b), 20000);
        QCOMPARE(source->offlineReason(b), QString("status offline"));
        QVERIFY(source->offlineReason(a).isEmpty());
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!model.isOnline(a), 30000);
        QCOMPARE(source->offlineReason(a), QString("broker lost: the broker closed the connection"));
        QCOMPARE(source->offlineReason(b), QString("status offline"));
        QCOMPARE(model.channelId("old"), -1);
    }

    // Thousands of made-up meters and a 10 MB payload: the bound of meters holds, the memory stays
    // bounded, the recording stays valid RFC 4180 and the refusals are counted.
    void madeUpMetersAndHugePayloads() {
        RecordingBench bench;
        QVERIFY(bench.start("bench-many"));
        BrokerMeterSource* source = bench.source;
        QTRY_VERIFY_WITH_TIMEOUT(source->connected(), 20000);
        const auto rss = [] {
            std::ifstream status("/proc/self/status");
            std::string line;
            while (std::getline(status, line))
                if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
            return 0L;
        };
        const long before = rss();
        RawPublisher flood(bench.broker, "flood");
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 5000; ++i) {
            // quotes and commas are the file's own characters
            const std::string client = "m" + std::to_string(i) + (i % 7 == 0 ? ",\"q\"" : "");
            flood.publish("lab/" + client + "/status", "online");
            flood.publish("lab/" + client + "/reading", readingAt(1, i, now - 1000));
        }
        flood.publish("lab/m1/reading", std::string(10 * 1024 * 1024, '{'));
        flood.publish("lab/m2/reading", "{\"time\":\"" + std::string(1000, '2') + "\",\"value\":1}");
        QVERIFY(flood.waitAcknowledged(std::chrono::seconds(60)));
        const BrokerIntake& intake = source->intake();
        const auto& c = intake.counts();
        QTRY_VERIFY_WITH_TIMEOUT(
            c.readings + c.beyondMeters + c.refusedTotal() >= 10002 - BrokerIntake::kMaxMeters, 60000);
        QCOMPARE(intake.meters(), BrokerIntake::kMaxMeters);
        QCOMPARE(bench.model.channelIds().size(), qsizetype(BrokerIntake::kMaxMeters));
        QCOMPARE(c.readings, uint64_t(BrokerIntake::kMaxMeters));
        QCOMPARE(c.refused.at(ReceivedReading::Fault::TooLarge), uint64_t(1));
        QCOMPARE(c.refused.at(ReceivedReading::Fault::BadText), uint64_t(1));
        QVERIFY2(rss() - before < 100 * 1024, qPrintable(QString::number(rss() - before)));
        QVERIFY(bench.session.finishRecording());
        const auto rows = csvRows(bench.csv);
        QVERIFY(rows);
        QCOMPARE(rows->size(), qsizetype(BrokerIntake::kMaxMeters + 1));  // the header and one row each
        for (const QStringList& r : *rows) QCOMPARE(r.size(), 7);
    }

#ifdef DMMVIEW_PATH
    // A headless bench whose math channels could not all be sent at its end says so and exits 1.
    void headlessBenchWhosePublishingFailedExits1() {
        QTemporaryDir dirIn, dirOut;
        LocalBroker in(dirIn.path().toStdString()), out(dirOut.path().toStdString());
        QVERIFY(in.start());
        QVERIFY(out.start());
        Subscriber heard(out, "out/+/reading", "heard");
        QVERIFY(heard.waitFor([](auto&) { return true; }));
        QProcess bench;
        bench.setWorkingDirectory(dirIn.path());
        bench.start(DMMVIEW_PATH, {"--subscribe", QString::fromStdString(in.url() + "/lab"), "--math",
                                   "P=U*I", "--publish", QString::fromStdString(out.url() + "/out")});
        QVERIFY(bench.waitForStarted());
        RawPublisher feed(in, "feed");
        feed.publish("lab/U/status", "online", true);
        feed.publish("lab/I/status", "online", true);
        uint64_t seq = 0;
        QTimer pace;
        QObject::connect(&pace, &QTimer::timeout, [&] {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            ++seq;
            feed.publish("lab/U/reading", readingAt(seq, 12, now));
            feed.publish("lab/I/reading", readingAt(seq, 0.5, now));
        });
        pace.start(100);
        QTRY_VERIFY_WITH_TIMEOUT(heard.messages().size() >= 3, 30000);
        out.pause();
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += bench.readAllStandardError()).contains("connection lost"), 40000);
        ::kill(pid_t(bench.processId()), SIGTERM);
        QVERIFY(bench.waitForFinished(30000));
        pace.stop();
        said += bench.readAllStandardError();
        out.resume();
        QVERIFY2(bench.exitCode() == 1, said.constData());
        QVERIFY2(said.contains("not sent") && !said.contains("not sent 0"), said.constData());
    }

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
