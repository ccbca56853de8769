// Publishing to a real broker started by the test: every reading arrives once and in order with
// its fields, the status topic follows the program (also a killed one), queued readings survive
// a broker restart, and logins and TLS are checked.
#include <netdb.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "../cli/HeadlessTestSupport.h"
#include "../workbench/BenchTestSupport.h"
#include "HeadlessPublishing.h"
#include "HeadlessRecorder.h"
#include "Interrupts.h"
#include "LocalBroker.h"
#include "MqttPublisher.h"
#include "ReadingPublisher.h"
#include "RecordJournal.h"
#include "UnitSymbols.h"

namespace {

// 1.234 V DC AUTO and -3999 V DC MANU, taking turns: every frame is a new reading.
std::string writeCapture(const QTemporaryDir& dir, const std::string& name, int frames) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < frames; ++i) out << segmentBytes(i % 2 ? "49F3F3F3F00040" : "705DB1F2700040");
    return path;
}

std::vector<qint64> sequence(const std::vector<std::string>& payloads) {
    std::vector<qint64> seq;
    for (const auto& p : payloads)
        seq.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(p))["seq"].toInteger());
    return seq;
}

// The default name's host part.
std::string atHost() {
    return "@" + QSysInfo::machineHostName().section('.', 0, 0).toStdString();
}

// Every one of 1..last, in order; a run that broke off may start again at a number already
// sent (the messages in flight at the break), but goes on without gaps and ends at `last`.
bool inOrderWithRepeats(const std::vector<qint64>& seq, qint64 last) {
    qint64 highest = 0;
    for (std::size_t i = 0; i < seq.size(); ++i) {
        const bool next = i > 0 && seq[i] == seq[i - 1] + 1;
        if (!(next || seq[i] == highest + 1 || (seq[i] >= 1 && seq[i] <= highest))) return false;
        highest = std::max(highest, seq[i]);
    }
    return !seq.empty() && highest == last && seq.back() == last;
}

PublisherSettings settingsFor(const LocalBroker& broker, const std::string& base) {
    PublisherSettings s;
    std::string error;
    s.url = *parseBrokerUrl(broker.url(), error);
    s.clientId = base;
    s.readingTopic = base + "/reading";
    s.statusTopic = base + "/status";
    return s;
}

QByteArray seqMessage(int i) {
    return "{\"seq\":" + QByteArray::number(i) + "}";
}

bool endsWithSeq(const std::vector<Subscriber::Message>& m, int last) {
    return !m.empty() && m.back().payload.rfind("{\"seq\":" + std::to_string(last) + ",", 0) == 0;
}

std::vector<qint64> range(qint64 from, qint64 to) {
    std::vector<qint64> v;
    for (qint64 i = from; i <= to; ++i) v.push_back(i);
    return v;
}

}  // namespace

class Publish : public QObject {
    Q_OBJECT

private slots:
    void unitsAndValuesForReaders() {
        const std::pair<const char*, const char*> units[] = {
            {"k*", "k\u03A9"}, {"M*", "M\u03A9"}, {"uF", "\u00B5F"}, {"uA", "\u00B5A"},
            {"#", "\u00B0C"},  {"?", "\u00B0F"},  {"&*", "\u03A9"},  {"&", "\u03A9"},
            {")", "V"},        {"kHz", "kHz"},    {"mV", "mV"}};
        for (const auto& [lcd, real] : units)
            QCOMPARE(QString::fromStdString(UnitSymbols::realUnitText(lcd)), QString(real));
        QCOMPARE(UnitSymbols::plainNumber("-1.234"), std::string("-1.234"));
        QCOMPARE(UnitSymbols::plainNumber(".5"), std::string("0.5"));
        QCOMPARE(UnitSymbols::plainNumber("0400"), std::string("400"));
        for (const char* none : {"0.L", "-0.L", "", "-", ".", "1.2.3", "1e5", "nan"})
            QVERIFY2(UnitSymbols::plainNumber(none).empty(), none);
    }

    void brokerUrls_data() {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<QString>("shown");  // broker, then the prefix; or the error's start
        QTest::newRow("defaults") << QByteArray("mqtt://lab-pc") << "mqtt://lab-pc:1883 dmmview";
        QTest::newRow("tls default port")
            << QByteArray("mqtts://bench@10.0.0.2/lab/meters/") << "mqtts://bench@10.0.0.2:8883 lab/meters";
        QTest::newRow("ipv6") << QByteArray("mqtt://[::1]:1999/x") << "mqtt://[::1]:1999 x";
        QTest::newRow("password in url") << QByteArray("mqtt://u:pw@h") << "--publish: the password is read";
        QTest::newRow("bad port") << QByteArray("mqtt://h:99999") << "--publish: the port";
        QTest::newRow("wildcard prefix") << QByteArray("mqtt://h/a/+") << "--publish: the topic prefix";
        QTest::newRow("other scheme") << QByteArray("http://h") << "--publish needs";
        QTest::newRow("UTF-8 prefix") << QByteArray("mqtt://h/Prüfplatz") << "mqtt://h:1883 Prüfplatz";
        QTest::newRow("control character")
            << QByteArray("mqtt://h/x\001y") << "--publish: the topic prefix may not hold control";
        QTest::newRow("not UTF-8") << QByteArray("mqtt://h/x\377y")
                                   << "--publish: the topic prefix is not UTF-8";
        QTest::newRow("broker's own")
            << QByteArray("mqtt://h/$SYS/x") << "--publish: the topic prefix may not start with $";
        QTest::newRow("too long") << QByteArray("mqtt://h/") + QByteArray(65000, 'a')
                                  << "--publish: the topic prefix is 65000";
        QTest::newRow("after ipv6") << QByteArray("mqtt://[::1]x/x") << "--publish: after the ]";
    }
    void brokerUrls() {
        QFETCH(QByteArray, url);
        QFETCH(QString, shown);
        std::string error;
        const auto u = parseBrokerUrl(url.toStdString(), error);
        QCOMPARE(QString::fromStdString(u ? u->display() + " " + u->prefix : error).left(shown.size()),
                 shown);
    }

    // A retained message on a subtopic of the meter's own topics: it reaches a subscriber that
    // comes later; names that are not a topic name are refused before anything is queued.
    void retainedMessagesOnSubtopics() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        PublishRequest request;
        std::string error;
        request.url = *parseBrokerUrl(broker.url() + "/r", error);
        request.clientName = "m1";
        ReadingPublisher p(request, "KR31G", "/dev/ttyUSB0");
        const std::pair<std::string, bool> subtopics[] = {
            {"alarm/over", true}, {"alarm/gone", true}, {"", false},
            {"/alarm", false},    {"alarm/", false},    {"a//b", false},
            {"a/+", false},       {"a/#", false},       {std::string("a") + char(1) + "b", false}};
        for (const auto& [sub, ok] : subtopics) QVERIFY2(p.publishRetainedOn(sub, "x") == ok, sub.c_str());
        QVERIFY(p.publishRetainedOn("alarm/gone", ""));  // cleared again
        QVERIFY(p.client().drain(std::chrono::seconds(10)));
        Subscriber late(broker, "r/m1/alarm/#", "late");
        QVERIFY(late.waitFor([](const auto& m) { return !m.empty(); }));
        QVERIFY(late.sync());
        const auto got = late.messages();
        QCOMPARE(got.size(), std::size_t(1));
        QCOMPARE(got[0].topic, std::string("r/m1/alarm/over"));
        QVERIFY(got[0].retained);
    }

    // Two runs at once, one recorded under a zone west of UTC: each message's time is its row's.
    void twoRunsPublishEveryReadingInOrder() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber sub(broker, "lab/#", "watcher");
        QVERIFY(sub.waitFor([](auto&) { return true; }));
        const std::string one = writeCapture(dir, "one.bin", 300);
        const std::string two = writeCapture(dir, "two.bin", 200);
        const std::string csv = dir.filePath("one.csv").toStdString();
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "America/New_York");
        tzset();
        Run a, b;
        std::thread first([&] {
            a = decode({"--decode", one, "--publish", broker.url() + "/lab", "--record", csv, "--start",
                        "2026-03-01T12:00:00"},
                       "");
        });
        b = decode({"--decode", two, "--publish", broker.url() + "/lab", "--publish-id", "second"}, "");
        first.join();
        // the reading held back by the interval goes at the end
        const Run c = decode({"--decode", two, "--publish", broker.url() + "/lab", "--publish-id", "every",
                              "--publish-every", "3600"},
                             "");
        // volts, then kilohertz: the sensor's configuration follows
        const std::string units = dir.filePath("units.bin").toStdString();
        std::ofstream(units, std::ios::binary)
            << segmentBytes("705DB1F2700040") << segmentBytes("705DB1F2700040")
            << segmentBytes("43E7DFD7D20021");
        const Run d = decode({"--decode", units, "--publish", broker.url() + "/lab", "--publish-id", "disc",
                              "--publish-discovery=lab/ha"},
                             "");
        qputenv("TZ", zone);
        tzset();
        QCOMPARE(a.code + b.code + c.code + d.code, 0);
        QVERIFY2(a.err.find("readings published 300, dropped 0, not sent 0") != std::string::npos,
                 a.err.c_str());

        QVERIFY(sub.waitFor([](auto& m) { return m.size() >= 500 + 2 + 3 + 2 + 8; }));
        const auto configs = sub.payloads("lab/ha/sensor/dmmview_disc/config");
        QCOMPARE(configs.size(), std::size_t(2));
        const QJsonObject volts = QJsonDocument::fromJson(QByteArray::fromStdString(configs[0])).object();
        QCOMPARE(volts["state_topic"].toString() + " " + volts["unit_of_measurement"].toString() + " " +
                     volts["device_class"].toString() + " " + volts["availability_topic"].toString(),
                 "lab/disc/reading V voltage lab/disc/status");
        QCOMPARE(
            QJsonDocument::fromJson(QByteArray::fromStdString(configs[1]))["unit_of_measurement"].toString(),
            "kHz");
        const auto readingsOfOne = sub.payloads("lab/KR31E-one.bin" + atHost() + "/reading");
        QCOMPARE(sequence(readingsOfOne), range(1, 300));
        QCOMPARE(sequence(sub.payloads("lab/second/reading")), range(1, 200));
        const auto every = sub.payloads("lab/every/reading");
        QCOMPARE(every.size(), std::size_t(2));
        QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(every[1]))["display"].toString(), "-3999");
        const QJsonObject r =
            QJsonDocument::fromJson(QByteArray::fromStdString(sub.payloads("second/reading")[1])).object();
        QCOMPARE(r["display"].toString(), "-3999");
        QCOMPARE(r["value"].toDouble(), -3999.0);
        QCOMPARE(r["counts"].toDouble(), -3999.0);
        QCOMPARE(r["unit"].toString() + r["acdc"].toString() + r["range"].toString(), "VDCMANU");
        QCOMPARE(r["overload"].toBool(), false);
        QCOMPARE(r["model"].toString(), "KR31E");
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$")
                    .match(r["time"].toString())
                    .hasMatch());
        // the recorded run: the line's clock from --start, in the zone's offset, as the table has it
        std::ifstream table(csv);
        std::string line;
        std::getline(table, line);
        for (const std::string& payload : readingsOfOne) {
            QVERIFY(std::getline(table, line));
            const QString time =
                QJsonDocument::fromJson(QByteArray::fromStdString(payload))["time"].toString();
            QCOMPARE(time, QString::fromStdString(line).section(',', 1, 1));
        }
        QVERIFY(QJsonDocument::fromJson(QByteArray::fromStdString(readingsOfOne[0]))["time"]
                    .toString()
                    .startsWith("2026-03-01T12:00:00.0"));
        QVERIFY(
            QJsonDocument::fromJson(QByteArray::fromStdString(readingsOfOne[0]))["time"].toString().endsWith(
                "-05:00"));
        // online before the first reading, offline after the last, and retained for later subscribers
        const std::vector<std::string> status = sub.payloads("second/status");
        QCOMPARE(status, (std::vector<std::string>{"online", "offline"}));
        Subscriber late(broker, "lab/#", "late");
        QVERIFY(late.waitFor([](auto& m) { return m.size() == 5; }));
        QVERIFY(late.messages()[0].retained);
        QCOMPARE(late.payloads("status"), (std::vector<std::string>(4, "offline")));
        QVERIFY(late.payloads("config")[0].find("kHz") != std::string::npos);
    }

    void killedProgramGoesOfflineByItsWill() {
#ifndef DMMVIEW_PATH
        QSKIP("the program is not built");
#else
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber sub(broker, "k/#", "watcher");
        // subscribed before anything is published: a message before that is not kept for it
        QVERIFY(sub.waitFor([](auto&) { return true; }));
        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(DMMVIEW_PATH, {"--decode", "-", "--publish", QString::fromStdString(broker.url() + "/k"),
                                 "--publish-id", "bench"});
        QVERIFY(run.waitForStarted());
        run.write(QByteArray::fromStdString(segmentBytes("705DB1F2700040")));
        QVERIFY(run.waitForBytesWritten());
        QVERIFY(sub.waitFor([](auto& m) { return m.size() >= 2; }));
        QCOMPARE(sub.payloads("status"), std::vector<std::string>{"online"});
        // a subscriber joining mid-run learns the state at once
        Subscriber late(broker, "k/+/status", "late");
        QVERIFY(late.waitFor([](auto& m) { return !m.empty() && m[0].retained && m[0].payload == "online"; },
                             std::chrono::seconds(5)));
        // a second run under the same name is turned away and leaves the first one's status alone
        const Run twin =
            decode({"--decode", "-", "--publish", broker.url() + "/k", "--publish-id", "bench"}, "");
        QCOMPARE(twin.code, 2);
        QVERIFY2(twin.err.find("another run publishes under this name") != std::string::npos,
                 twin.err.c_str());
        QVERIFY(sub.sync());
        QCOMPARE(sub.payloads("status"), std::vector<std::string>{"online"});
        ::kill(static_cast<pid_t>(run.processId()), SIGKILL);
        QVERIFY(run.waitForFinished());
        QVERIFY(sub.waitFor([](auto& m) { return !m.empty() && m.back().payload == "offline"; }));
#endif
    }

    // The broker away for 3 s with 150 readings coming: the bound of 100 keeps the newest 100,
    // the count says 50 went, and what was kept arrives after the restart, in order, once.
    void brokerRestartKeepsTheNewestQueued() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber sub(broker, "r/#", "watcher");
        QVERIFY(sub.waitFor([](auto&) { return true; }));
        std::mutex m;
        std::vector<std::pair<BrokerState, int>> changes;
        PublisherSettings s = settingsFor(broker, "r/x");
        s.queueBound = 100;
        MqttPublisher pub(s, [&](const PublisherStatus& st) {
            std::lock_guard<std::mutex> lock(m);
            changes.emplace_back(st.state, st.retrySeconds);
        });
        QVERIFY(pub.waitUntilTried(std::chrono::seconds(10)));
        auto send = [&](int from, int to) {
            for (int i = from; i <= to; ++i) pub.publish(seqMessage(i));
        };
        send(1, 50);
        QVERIFY(pub.drain(std::chrono::seconds(10)));
        // the broker would deliver again what the subscriber had not yet acknowledged
        QVERIFY(sub.waitFor([](auto& msgs) { return msgs.size() >= 50 + 1; }));
        QVERIFY(sub.sync());
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(pub.status().state == BrokerState::Offline, 5000);
        send(51, 200);
        QCOMPARE(pub.status().dropped, uint64_t(50));
        QTest::qWait(3000);
        QVERIFY(broker.start());
        QVERIFY(pub.drain(std::chrono::seconds(20)));
        std::vector<qint64> expected = range(1, 50);
        for (qint64 i = 101; i <= 200; ++i) expected.push_back(i);
        // the subscriber takes its subscription up again after the restart, and with it the
        // retained status, which may come after the readings the broker kept for it
        QVERIFY(sub.waitFor(
            [](auto& msgs) {
                const auto last = std::find_if(msgs.rbegin(), msgs.rend(),
                                               [](const auto& m) { return m.topic == "r/x/reading"; });
                return last != msgs.rend() && last->payload == "{\"seq\":200}";
            },
            std::chrono::seconds(20)));
        QCOMPARE(sequence(sub.payloads("reading")), expected);
        const PublisherStatus end = pub.status();
        QCOMPARE(end.sent, uint64_t(150));
        QCOMPARE(end.dropped, uint64_t(50));
        // after a good session the first wait is 1 s again, however long the waits had grown
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(pub.status().state == BrokerState::Offline, 5000);
        std::lock_guard<std::mutex> lock(m);
        using C = std::pair<BrokerState, int>;
        QCOMPARE(changes, (std::vector<C>{C(BrokerState::Online, 0), C(BrokerState::Offline, 1),
                                          C(BrokerState::Online, 0), C(BrokerState::Offline, 1)}));
    }

    // A broker that stops answering is left within about 15 s; what was in flight goes again,
    // ahead of the rest, so that the subscriber gets every message in order, some twice.
    void stalledBrokerIsLeftAndMessagesGoAgainInOrder() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber sub(broker, "s/#", "watcher");
        QVERIFY(sub.waitFor([](auto&) { return true; }));
        MqttPublisher pub(settingsFor(broker, "s/x"));
        QVERIFY(pub.waitUntilTried(std::chrono::seconds(10)));
        broker.pause();
        QElapsedTimer stalled;
        stalled.start();
        for (int i = 1; i <= 600; ++i) pub.publish(seqMessage(i));
        QTRY_VERIFY_WITH_TIMEOUT(pub.status().state == BrokerState::Offline, 25000);
        QVERIFY2(stalled.elapsed() <= 20000, qPrintable(QString::number(stalled.elapsed())));
        broker.resume();
        QVERIFY(pub.drain(std::chrono::seconds(30)));
        sub.waitFor([](auto& msgs) { return !msgs.empty() && msgs.back().payload == "{\"seq\":600}"; },
                    std::chrono::seconds(10));
        QVERIFY(inOrderWithRepeats(sequence(sub.payloads("reading")), 600));
    }

    // A capture waits for a broker that is away for 5 s: every reading arrives, in order.
    void captureWaitsForTheBroker() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber sub(broker, "c/+/reading", "watcher");
        QVERIFY(sub.waitFor([](auto&) { return true; }));
        const std::string capture = writeCapture(dir, "big.bin", 200000);
        Run r;
        std::thread run([&] {
            r = decode({"--decode", capture, "--publish", broker.url() + "/c", "--publish-id", "big"}, "");
        });
        const bool midway = sub.waitFor([](auto& m) { return m.size() >= 50000; }, std::chrono::seconds(60));
        broker.stop();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        QVERIFY(broker.start());
        run.join();
        QVERIFY(midway);
        QVERIFY2(r.code == 0, r.err.c_str());
        QVERIFY2(
            sub.waitFor([](auto& m) { return endsWithSeq(m, 200000); }, std::chrono::seconds(60)),
            (std::to_string(sub.messages().size()) + " messages, the last " + sub.messages().back().payload)
                .c_str());
        QVERIFY(inOrderWithRepeats(sequence(sub.payloads("big/reading")), 200000));
    }

    // A live device's run: a burst larger than the in-flight window, sent to a paused broker, is
    // drained before the stop; readings dropped beyond the queue's bound fail the run.
    void liveRunDrainsAtTheEndAndCountsDrops() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        PublishRequest request;
        std::string error;
        request.url = *parseBrokerUrl(broker.url() + "/d", error);
        MeterState reading;
        reading.ValueText = "1.234";
        auto run = [&](int readings, const std::function<void()>& before,
                       const std::function<void()>& after) {
            std::ostringstream err;
            ExitCode code = ExitCode::Success;
            auto p = HeadlessPublishing::start(
                request, "KR31G", "/dev/ttyUSB9", false, [] { return true; }, err, code);
            if (!p) return err.str();
            before();
            for (int i = 0; i < readings; ++i) p->offer(reading, LocalStamp{});
            std::thread meanwhile(after);
            const bool ok = p->finish([] { return true; });
            meanwhile.join();
            return err.str() + (ok ? "ok" : "failed");
        };
        std::string err = run(
            600, [&] { broker.pause(); },
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                broker.resume();
            });
        QVERIFY2(err.find("readings published 600, dropped 0, not sent 0\nok") != std::string::npos,
                 err.c_str());
        err = run(
            10050,
            [&] {
                broker.stop();
                std::this_thread::sleep_for(std::chrono::seconds(1));
            },
            [&] { broker.start(); });
        QVERIFY2(err.find("readings published 10000, dropped 50, not sent 0\nfailed") != std::string::npos,
                 err.c_str());
    }

    // Messages handed to a broker that stalls are not sent until it acknowledged them: the drain
    // waits for them, and gives up with them counted as waiting.
    void drainWaitsForMessagesInFlight() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        MqttPublisher pub(settingsFor(broker, "f/m"));
        QVERIFY(pub.waitUntilTried(std::chrono::seconds(10)));
        broker.pause();
        for (int i = 1; i <= 10; ++i) pub.publish(seqMessage(i));
        // handed over to the paused broker: none left in the queue, all in flight
        QVERIFY(!pub.drain(std::chrono::milliseconds(1000)));
        QCOMPARE(pub.status().waiting, uint64_t(10));
        QCOMPARE(pub.status().sent, uint64_t(0));
        broker.resume();
        QVERIFY(pub.drain(std::chrono::seconds(10)));
        QCOMPARE(pub.status().sent, uint64_t(10));
    }

    // A live run interrupted while its broker is away, the retries spaced out by then, and the
    // broker back 3 s later: the drain tries again at once and on the first retry's pace, so
    // everything is sent and the run ends with 0.
    void drainReconnectsWhileItWaits() {
#ifndef DMMVIEW_PATH
        QSKIP("the program is not built");
#else
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber sub(broker, "dr/+/reading", "drain-watcher");
        QVERIFY(sub.waitFor([](auto&) { return true; }));
        FedLine line(
            "KR31G", dmmsim::SimFunction::Volts, [](int k) { return 1.0 + (k % 100) * 0.01; }, 50);
        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(DMMVIEW_PATH,
                  {"--decode", QString::fromStdString(line.path()), "--model", "KR31G", "--publish",
                   QString::fromStdString(broker.url() + "/dr"), "--publish-id", "d"});
        QVERIFY(run.waitForStarted());
        line.start();
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += run.readAllStandardError()).contains("connected, publishing"),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(sub.messages().size() >= 20, 20000);
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT((said += run.readAllStandardError()).contains("connection lost"), 20000);
        // away long enough for the waits between attempts to have grown to 8 s
        QTest::qWait(8000);
        ::kill(pid_t(run.processId()), SIGINT);
        QTest::qWait(3000);
        line.stop();
        QVERIFY(broker.start());
        QVERIFY(run.waitForFinished(60000));
        said += run.readAllStandardError();
        QVERIFY2(run.exitCode() == 0, said.constData());
        const QRegularExpressionMatch m =
            QRegularExpression("readings published (\\d+), dropped 0, not sent 0\n")
                .match(QString::fromUtf8(said));
        QVERIFY2(m.hasMatch(), said.constData());
        const qint64 published = m.captured(1).toLongLong();
        QVERIFY(sub.waitFor([&](auto& got) { return endsWithSeq(got, int(published)); }));
        QVERIFY(inOrderWithRepeats(sequence(sub.payloads("d/reading")), published));
#endif
    }

    // Two runs started at the same moment under one name: one goes on publishing, the other
    // stops without a word on the status topic, which then says "online" for the one left; and
    // "offline" once that one ends.
    void twoRunsAtOnceLeaveOnePublisher() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        for (int round = 0; round < 4; ++round) {
            const std::string base = "race" + std::to_string(round) + "/m";
            PublisherSettings a = settingsFor(broker, base), b = settingsFor(broker, base);
            a.clientId = base + "-a";
            b.clientId = base + "-b";
            auto first = std::make_unique<MqttPublisher>(a);
            auto second = std::make_unique<MqttPublisher>(b);
            auto states = [&] { return std::make_pair(first->status().state, second->status().state); };
            QTRY_VERIFY_WITH_TIMEOUT(
                (states() == std::make_pair(BrokerState::Online, BrokerState::NameInUse) ||
                 states() == std::make_pair(BrokerState::NameInUse, BrokerState::Online)),
                20000);
            {
                Subscriber late(broker, base + "/status", "late" + std::to_string(round));
                QVERIFY(late.waitFor([](const auto& m) { return !m.empty(); }));
                QCOMPARE(late.messages().back().payload, std::string("online"));
            }
            MqttPublisher& left = first->status().state == BrokerState::Online ? *first : *second;
            left.stop();
            Subscriber after(broker, base + "/status", "after" + std::to_string(round));
            QVERIFY(after.waitFor([](const auto& m) { return !m.empty(); }));
            QCOMPARE(after.messages().back().payload, std::string("offline"));
        }
    }

    // A host name with several addresses is tried address by address: the broker listens on
    // 127.0.0.1 only, and the name may lead to ::1 first.
    void aNameWithSeveralAddresses() {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        int addresses = 0;
        if (::getaddrinfo("localhost", nullptr, &hints, &found) == 0)
            for (addrinfo* a = found; a; a = a->ai_next) ++addresses;
        if (found) ::freeaddrinfo(found);
        if (addresses < 2) QSKIP("localhost has one address here");
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        PublisherSettings s = settingsFor(broker, "multi/m");
        s.url.host = "localhost";
        MqttPublisher p(s);
        QVERIFY2(p.waitUntilTried(std::chrono::seconds(20)), p.status().reason.c_str());
    }

    // SIGTERM (a service being stopped) ends the reading: the table is written, the broker gets
    // kStopGrace at most for what waits, well inside the logger unit's stop timeout, and the exit
    // code says whether all of it went out. Meanwhile a pipe that waits for the broker keeps its
    // journal up to date.
    void terminationWritesTheTableAndGivesTheBrokerAWhile_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("code");
        QTest::newRow("connecting") << "connecting" << 1;
        QTest::newRow("connected") << "connected" << 0;
        QTest::newRow("gone") << "gone" << 1;
        QTest::newRow("stalled") << "stalled" << 1;
    }
    void terminationWritesTheTableAndGivesTheBrokerAWhile() {
#ifndef DMMVIEW_PATH
        QSKIP("the program is not built");
#else
        QFETCH(QString, state);
        QFETCH(int, code);
        QFile unit(DMM_TEST_DATA_DIR "/../../packaging/dmmview-logger@.service.in");
        QVERIFY(unit.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch stop =
            QRegularExpression("\nTimeoutStopSec=(\\d+)\n").match(QString::fromUtf8(unit.readAll()));
        QVERIFY(stop.hasMatch());
        const qint64 stopTimeoutMs = stop.captured(1).toLongLong() * 1000;
        QVERIFY(stopTimeoutMs >= std::chrono::milliseconds(kStopGrace).count() + 10000);

        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        if (state == "connecting") broker.pause();
        QProcess run;
        run.setWorkingDirectory(dir.path());
        const QString table = dir.filePath("t.csv");
        run.start(DMMVIEW_PATH, {"--decode", "-", "--record", table, "--publish",
                                 QString::fromStdString(broker.url() + "/t")});
        QVERIFY(run.waitForStarted());
        QByteArray said;
        if (state != "connecting") {
            QTRY_VERIFY_WITH_TIMEOUT((said += run.readAllStandardError()).contains("connected"), 30000);
            if (state == "gone") broker.stop();
            if (state == "stalled") broker.pause();
            QByteArray frames;
            for (int i = 0; i < 10300; ++i)
                frames +=
                    QByteArray::fromStdString(segmentBytes(i % 2 ? "49F3F3F3F00040" : "705DB1F2700040"));
            run.write(frames);
            const std::string journal = HeadlessRecorder::journalPathFor(table.toStdString());
            QTRY_COMPARE_WITH_TIMEOUT(RecordJournal::read(journal, false).rowCount, int64_t(10000), 30000);
        } else {
            // the run is connecting (its handlers in place) once it holds a socket
            const auto holdsASocket = [&run] {
                const QDir fds(QString("/proc/%1/fd").arg(run.processId()));
                for (const QFileInfo& fd : fds.entryInfoList(QDir::System))
                    if (fd.symLinkTarget().contains("socket:")) return true;
                return false;
            };
            QTRY_VERIFY_WITH_TIMEOUT(holdsASocket(), 30000);
        }
        QElapsedTimer ending;
        ending.start();
        run.terminate();
        QVERIFY(run.waitForFinished(int(stopTimeoutMs)));
        const qint64 took = ending.elapsed();
        said += run.readAllStandardError();
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QVERIFY2(run.exitCode() == code, said.constData());
        QVERIFY2(took < stopTimeoutMs, qPrintable(QString::number(took)));
        if (state == "connecting") {
            QVERIFY(!QFile::exists(table));
            return;
        }
        QFile written(table);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll().count('\n'), 10001);
        QVERIFY2(said.contains(code == 0 ? ", not sent 0\n" : ", not sent "), said.constData());
        // a broker that does not take the readings is given the whole grace, and not more
        if (code != 0)
            QVERIFY2(took >= std::chrono::milliseconds(kStopGrace).count(),
                     qPrintable(QString::number(took)));
#endif
    }

    void loginsAndCertificates_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("ca");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("right password") << "password"
                                        << "s3cret"
                                        << "" << 0 << "readings published 1,";
        QTest::newRow("wrong password") << "password"
                                        << "guess"
                                        << "" << 1 << "refused the";
        QTest::newRow("CA that signed") << "tls"
                                        << ""
                                        << "ca.crt" << 0 << "readings published 1,";
        QTest::newRow("other CA") << "tls"
                                  << ""
                                  << "other-ca.crt" << 1 << "not signed by the CA given";
        QTest::newRow("no CA file") << "tls"
                                    << ""
                                    << "none.crt" << 2 << "none.crt' cannot be read: No such file";
        QTest::newRow("garbage CA file") << "tls"
                                         << ""
                                         << "garbage.crt" << 2 << "garbage.crt' holds no certificate";
        QTest::newRow("silent broker") << "paused"
                                       << ""
                                       << "" << 1 << "no answer from the broker within 8 s";
        QTest::newRow("other host name") << "tls localhost"
                                         << ""
                                         << "ca.crt" << 1 << "for another host name than localhost";
        QTest::newRow("topic denied") << "acl"
                                      << ""
                                      << "" << 1 << "refused by the broker 1 (Not authorized";
        QTest::newRow("nothing listening") << "none"
                                           << ""
                                           << "" << 1 << "Connection refused";
    }
    void loginsAndCertificates() {
        QFETCH(QString, setup);
        QFETCH(QString, password);
        QFETCH(QString, ca);
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        if (setup == "password") QVERIFY(broker.requirePassword("lab", "s3cret"));
        if (setup.startsWith("tls")) QVERIFY(broker.useTls());
        if (setup == "acl") broker.allowOnly("elsewhere");
        if (setup != "none") QVERIFY(broker.start());
        if (setup == "paused") broker.pause();
        std::ofstream(broker.path("garbage.crt")) << "-----BEGIN CERTIFICATE-----\nnot base64 at all\n";
        qputenv("DMMVIEW_MQTT_PASSWORD", password.toUtf8());
        std::string url = broker.url(setup == "password" ? "lab" : "");
        if (setup.endsWith("localhost")) {
            // the broker listens on 127.0.0.1 alone; where the name leads to ::1 first the client
            // library tries only that address
            addrinfo hints{};
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const bool ipv4First =
                ::getaddrinfo("localhost", nullptr, &hints, &found) == 0 && found->ai_family == AF_INET;
            if (found) ::freeaddrinfo(found);
            if (!ipv4First) QSKIP("localhost names ::1 before 127.0.0.1 on this machine");
            url.replace(url.find("127.0.0.1"), 9, "localhost");
        }
        std::vector<std::string> args{"--decode", writeCapture(dir, "c.bin", 1), "--publish", url};
        if (!ca.isEmpty()) args.insert(args.end(), {"--publish-ca", broker.path(ca.toStdString())});
        const Run r = decode(args, "");
        qunsetenv("DMMVIEW_MQTT_PASSWORD");
        QTEST(r.code, "code");
        QFETCH(QString, message);
        QVERIFY2(QString::fromStdString(r.err).contains(message), r.err.c_str());
        // a failure to connect names the broker; a refused option names the option
        if (r.code == 1)
            QVERIFY2(r.err.find(":" + std::to_string(broker.port())) != std::string::npos, r.err.c_str());
    }
};

QTEST_GUILESS_MAIN(Publish)
#include "tst_publish.moc"
