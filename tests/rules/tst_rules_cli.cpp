#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <sstream>

#include "../cli/HeadlessTestSupport.h"
#include "../serial/PseudoTerminal.h"
#include "LocalBroker.h"
#include "Scenario.h"
#include "SimModel.h"

namespace {

// The simulator's ramp on a model: its bytes and, for each reading, the line time (in
// microseconds from the start) at which its frame's last byte arrives.
struct Ramp {
    std::string bytes;
    std::vector<int64_t> endUs;
    std::vector<size_t> endByte;
};
Ramp ramp(int frames, const char* model = "KR31G", int baud = 19200) {
    const auto sim = dmmsim::simModelFor(model, false);
    dmmsim::ScenarioOptions o;
    o.kind = dmmsim::ScenarioKind::Ramp;
    dmmsim::ScenarioStream stream(*sim, o);
    Ramp r;
    while (int(r.endUs.size()) < frames) {
        const dmmsim::Emission e = stream.next();
        r.bytes.append(e.bytes.begin(), e.bytes.end());
        if (!e.reading) continue;
        r.endUs.push_back(int64_t(r.bytes.size()) * 10'000'000 / baud);
        r.endByte.push_back(r.bytes.size());
    }
    return r;
}

// A printed reading's value in volts: "540.0" with "mV" is 0.54.
double volts(const QString& line) {
    const QStringList f = line.split('\t');
    return f.value(0).toDouble() * (f.value(2) == "mV" ? 1e-3 : 1.0);
}

QStringList csvLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
}

QString script(const QTemporaryDir& dir, const QString& name, const QString& body) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(("#!/bin/sh\n" + body).toUtf8());
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
    return path;
}

}  // namespace

class RulesCliTest : public QObject {
    Q_OBJECT
private slots:
    // The window of a start and a stop condition with a pre-trigger: every reading from one
    // second before the first above 1 V to the first above 2 V, in order, nothing else; worked
    // out here from the ramp's own values and line times.
    void startStopAndPreTriggerRecordTheirWindow() {
        QTemporaryDir dir;
        // a reading every 58 ms: a second holds 17 of them
        const Ramp r = ramp(300, "KR31E", 2400);
        const Run plain = decode({"--decode", "-", "--model", "KR31E"}, r.bytes);
        const QStringList printed = QString::fromStdString(plain.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(printed.size(), 300);
        int first = 0;
        while (volts(printed[first]) <= 1) ++first;
        int last = first;
        while (volts(printed[last]) <= 2) ++last;
        int from = first;
        while (from > 0 && r.endUs[size_t(from - 1)] >= r.endUs[size_t(first)] - 1'000'000) --from;
        QVERIFY(from > 0 && from < first - 10);

        const QString csv = dir.filePath("w.csv");
        const Run run =
            decode({"--decode", "-", "--model", "KR31E", "--record", csv.toStdString(), "--no-repeat",
                    "--start-when", "value > 1", "--stop-when", "value > 2", "--pre", "1"},
                   r.bytes);
        QCOMPARE(run.code, 0);
        const QStringList rows = csvLines(csv);
        QVERIFY(rows.size() > 1);
        QVERIFY(rows[0].endsWith(",Note"));
        QVERIFY2(rows[1].endsWith(",segment 1: value > 1"), qPrintable(rows[1]));
        for (int i = from; i <= last; ++i) {
            const int row = 1 + i - from;
            QVERIFY2(row < rows.size(), qPrintable(QString("row %1 missing").arg(row)));
            // the value as shown and the counts, in the CSV's columns
            const QStringList f = rows[row].split(',');
            const QStringList p = printed[i].split('\t');
            QCOMPARE(f[2] + ' ' + f[7], p[0] + ' ' + p[1]);
        }
        // and the next row starts the next segment
        QVERIFY(rows.size() == 2 + last - from || rows[2 + last - from].contains("segment 2"));
        QVERIFY2(QString::fromStdString(run.err).contains("segment 1 ended at"), run.err.c_str());
    }

    // An alarm on the ramp: each entry and leaving is a line, a retained message and a run of
    // the program with the event in its environment.
    void alarmsSayPublishAndRun() {
        QTemporaryDir dir;
        LocalBroker broker(dir.path().toStdString());
        QVERIFY(broker.start());
        Subscriber seen(broker, "lab/+/alarm/#", "seen");
        const QString log = dir.filePath("events");
        const QString program =
            script(dir, "on-alarm",
                   "echo \"$DMM_ALARM|$DMM_STATE|$DMM_VALUE|$DMM_UNIT|$DMM_CHANNEL|$DMM_TIME|$2\" "
                   ">> '" +
                       log + "'\necho said $1\n");
        // the readings where the alarm is entered (above 1.5 V) and left (1.3 V or less again)
        const Ramp r = ramp(350);  // passes 1.5 V upwards twice
        const Run plain = decode({"--decode", "-", "--model", "KR31G"}, r.bytes);
        const QStringList printed = QString::fromStdString(plain.out).split('\n', Qt::SkipEmptyParts);
        std::vector<size_t> changes;
        for (int i = 0; i < printed.size(); ++i) {
            if (changes.size() % 2 == 0 ? volts(printed[i]) > 1.5 : volts(printed[i]) <= 1.3)
                changes.push_back(size_t(i));
        }
        QCOMPARE(changes.size(), size_t(4));
        QProcess run;
        run.start(DMMVIEW_PATH, {"--decode", "-", "--model", "KR31G", "--alarm", "hi: value > 1.5 V",
                                 "--hysteresis", "0.2", "--on-alarm", program, "--publish",
                                 QString::fromStdString(broker.url() + "/lab"), "--publish-id", "t"});
        QVERIFY(run.waitForStarted());
        // up to each change, then until its program has run: one program runs at a time
        QString err;
        size_t sent = 0;
        for (size_t k = 0; k < changes.size(); ++k) {
            const size_t end = r.endByte[changes[k]];
            run.write(QByteArray::fromStdString(r.bytes.substr(sent, end - sent)));
            sent = end;
            QTRY_VERIFY_WITH_TIMEOUT(
                (err += QString::fromUtf8(run.readAllStandardError())).count(" exited with ") == int(k + 1),
                20000);
        }
        run.write(QByteArray::fromStdString(r.bytes.substr(sent)));
        run.closeWriteChannel();
        QVERIFY(run.waitForFinished(60000));
        err += QString::fromUtf8(run.readAllStandardError());
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(err.count(QRegularExpression(
                     "alarm hi entered at [-0-9T:.+]+: KR31G 1.512 V \\(value > 1.5 V\\)")),
                 2);
        QCOMPARE(err.count("alarm hi left at"), 2);
        QCOMPARE(err.count("alarm hi: " + program + " exited with 0; it said: said hi"), 4);

        QFile events(log);
        QVERIFY(events.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(events.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList f = lines[i].split('|');
            QCOMPARE(f.size(), 7);
            QCOMPARE(f[0], QStringLiteral("hi"));
            QCOMPARE(f[1], i % 2 ? QStringLiteral("left") : QStringLiteral("entered"));
            QCOMPARE(f[2], i % 2 ? QStringLiteral("1.296") : QStringLiteral("1.512"));  // hysteresis 0.2
            QCOMPARE(f[3], QStringLiteral("V"));
            QCOMPARE(f[4], QStringLiteral("KR31G"));
            QVERIFY2(
                QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$")
                    .match(f[5])
                    .hasMatch(),
                qPrintable(f[5]));
            QCOMPARE(f[6], f[1]);  // the state is the second argument as well
        }

        // entered and left by turns on the topic; what stays retained is the last, "left"
        QVERIFY(seen.waitFor([](const auto& m) { return m.size() >= 4; }));
        const std::vector<std::string> payloads = seen.payloads("/t/alarm/hi");
        QCOMPARE(payloads.size(), size_t(4));
        for (size_t i = 0; i < payloads.size(); ++i) {
            const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(payloads[i])).object();
            QCOMPARE(o["state"].toString(), i % 2 ? QStringLiteral("left") : QStringLiteral("entered"));
            QCOMPARE(o["alarm"].toString(), QStringLiteral("hi"));
        }
        Subscriber later(broker, "lab/t/alarm/hi", "later");
        QVERIFY(later.waitFor([](const auto& m) { return !m.empty(); }));
        const Subscriber::Message kept = later.messages().front();
        QVERIFY(kept.retained);
        QCOMPARE(
            QJsonDocument::fromJson(QByteArray::fromStdString(kept.payload)).object()["state"].toString(),
            QStringLiteral("left"));
    }

    // A program that sleeps holds up no reading: the alarms of the readings after its start are
    // all said while it still sleeps. At the end it is given a few seconds, then ended.
    void aSlowProgramHoldsUpNoReading() {
        QTemporaryDir dir;
        const QString started = dir.filePath("started"), finished = dir.filePath("finished");
        const QString program =
            script(dir, "slow", "touch '" + started + "'\nsleep 30\ntouch '" + finished + "'\n");
        QProcess run;
        run.start(DMMVIEW_PATH,
                  {"--decode", "-", "--model", "KR31G", "--alarm", "hi: value > 1.5", "--on-alarm", program});
        QVERIFY(run.waitForStarted());
        const Ramp r = ramp(600);
        const size_t half = r.bytes.size() / 4;
        run.write(QByteArray::fromStdString(r.bytes.substr(0, half)));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 20000);
        run.write(QByteArray::fromStdString(r.bytes.substr(half)));
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += QString::fromUtf8(run.readAllStandardError())).count("alarm hi left at") == 3, 20000);
        QVERIFY(!QFile::exists(finished));
        run.closeWriteChannel();
        QVERIFY(run.waitForFinished(60000));
        err += QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(err.contains("600 readings decoded"), qPrintable(err));
        QVERIFY2(
            err.contains("alarm hi: " + program + " was still running at the end of the run and was ended"),
            qPrintable(err));
        QVERIFY(!QFile::exists(finished));
    }

    // The bench without a window: an alarm over a math channel, and a summary of every channel.
    void headlessBenchWarnsAndSumsUp() {
        QTemporaryDir dir;
        PseudoTerminal pty;
        QVERIFY(!pty.slavePath.empty());
        const QString summary = dir.filePath("s.csv");
        QProcess run;
        run.start(DMMVIEW_PATH, {"--meter", QString::fromStdString("U=KR31G@" + pty.slavePath), "--math",
                                 "D=U*2", "--record", dir.filePath("b.csv"), "--alarm", "low: D < -8",
                                 "--summary", summary, "--every", "60"});
        QVERIFY(run.waitForStarted());
        // the lowest readings again until the run has the device open and says the alarm
        const Ramp r = ramp(150);  // from -5.4 V up: D below -8 V, then above
        const std::string low = r.bytes.substr(0, r.endByte[5]);
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT(
            ::write(pty.master, low.data(), low.size()) > 0 &&
                (err += QString::fromUtf8(run.readAllStandardError())).contains("alarm low entered"),
            20000);
        QCOMPARE(::write(pty.master, r.bytes.data(), r.bytes.size()), ssize_t(r.bytes.size()));
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += QString::fromUtf8(run.readAllStandardError())).contains("alarm low left"), 20000);
        run.terminate();
        QVERIFY(run.waitForFinished(30000));
        err += QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(err.count(QRegularExpression("alarm low entered at \\S+: D -10.8 V \\(D < -8\\)")) == 1,
                 qPrintable(err));
        QCOMPARE(err.count("alarm low left"), 1);
        const QStringList rows = csvLines(summary);
        QCOMPARE(rows.size(), 3);
        QVERIFY2(rows[1].startsWith("U,") && rows[1].endsWith(",V,0,partial"), qPrintable(rows[1]));
        QVERIFY2(rows[2].startsWith("D,") && rows[2].contains(",-10.8,"), qPrintable(rows[2]));
    }

    // Rule options are checked before the run, each with a one-line reason.
    void badRuleOptionsAreRefused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("start without record")
            << QStringList{"--start-when", "value > 1"} << "--start-when needs --record FILE";
        QTest::newRow("bad condition")
            << QStringList{"--alarm", "hot: value >> 1"} << "--alarm: in 'value >> 1'";
        QTest::newRow("bad duration")
            << QStringList{"--record", "x.csv", "--for", "ten"} << "--for: not a duration";
        QTest::newRow("program without alarm")
            << QStringList{"--on-alarm", "/bin/true"} << "--on-alarm needs --alarm";
        QTest::newRow("summary without every")
            << QStringList{"--summary", "s.csv"} << "--summary needs --every";
        QTest::newRow("pre without start") << QStringList{"--record", "x.csv", "--pre", "2"} << "--pre needs";
        QTest::newRow("bench recording rule")
            << QStringList{"--meter", "U=KR31G@/dev/null", "--record", "b.csv", "--stop-when", "U > 1"}
            << "--stop-when applies to --decode; the bench records every reading";
        QTest::newRow("hysteresis in another unit")
            << QStringList{"--alarm", "a: value > 1 V", "--hysteresis", "5 mA"} << "not in the unit of";
    }
    void badRuleOptionsAreRefused() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        std::vector<std::string> words;
        if (!args.contains("--meter")) words = {"--decode", "-"};
        for (const QString& a : args) words.push_back(a.toStdString());
        const OptionsResult r = parseOptions(words);
        QVERIFY2(QString::fromStdString(r.error).contains(error), r.error.c_str());
    }
};

QTEST_GUILESS_MAIN(RulesCliTest)
#include "tst_rules_cli.moc"
