// The numbers the program writes are the same under a locale with a decimal comma as under C:
// the lines of --decode, recorded files, published readings and the headless bench's file and
// statistics. The program runs as its own process, so the locale is the one it starts with.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "../serial/PseudoTerminal.h"
#include "FrameEncoder.h"
#include "LocalBroker.h"
#include "Scenario.h"
#include "SimModel.h"

#ifdef DMMVIEW_PATH
namespace {

using dmmsim::ScenarioKind;

const QString kPlain = QStringLiteral("C.UTF-8");
const QString kGerman = QStringLiteral("de_DE.UTF-8");

// The bytes of `frames` frames of a scenario, the digit stream's lead-in first.
QByteArray scenarioBytes(ScenarioKind kind, int frames) {
    dmmsim::ScenarioOptions options;
    options.kind = kind;
    dmmsim::ScenarioStream stream(*dmmsim::simModelFor("KR31G", false), options);
    QByteArray bytes;
    while (stream.frames() < uint64_t(frames)) {
        const dmmsim::Emission e = stream.next();
        bytes.append(reinterpret_cast<const char*>(e.bytes.data()), qsizetype(e.bytes.size()));
    }
    return bytes;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The first line where two texts part, for the failure message.
QByteArray firstDifference(const QByteArray& a, const QByteArray& b) {
    const QList<QByteArray> la = a.split('\n'), lb = b.split('\n');
    for (qsizetype i = 0; i < std::max(la.size(), lb.size()); ++i) {
        const QByteArray x = la.value(i), y = lb.value(i);
        if (x != y) return "line " + QByteArray::number(i + 1) + ": '" + x + "' against '" + y + "'";
    }
    return {};
}

// The rows of the bench's long-form CSV without their time: channel, number, unit, value, AC/DC,
// AUTO/MANU (no field of this run needs quotes).
QSet<QByteArray> rowsWithoutTime(const QByteArray& csv) {
    QSet<QByteArray> rows;
    for (const QByteArray& line : csv.split('\n').mid(1)) {
        const qsizetype comma = line.indexOf(',');
        if (comma > 0) rows.insert(line.mid(comma + 1).trimmed());
    }
    return rows;
}

}  // namespace
#endif

class LocaleNumbers : public QObject {
    Q_OBJECT
#ifdef DMMVIEW_PATH
    QTemporaryDir locales_;

    // A run of the program under `locale`, in `dir`; `during` runs while it does and may end it.
    struct Outcome {
        int code = -1;
        QByteArray out;
        QByteArray err;
    };
    Outcome runIn(const QString& locale, const QString& dir, const QStringList& args,
                  const std::function<void(QProcess&)>& during = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& key : env.keys())
            if (key == "LANG" || key == "LANGUAGE" || key.startsWith("LC_")) env.remove(key);
        env.insert("LC_ALL", locale);
        if (locale != kPlain) env.insert("LOCPATH", locales_.path());
        QProcess run;
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(dir);
        run.start(DMMVIEW_PATH, args);
        Outcome o;
        if (!run.waitForStarted()) return o;
        if (during) during(run);
        run.waitForFinished(120000);
        o.code = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
        o.out = run.readAllStandardOutput();
        o.err = run.readAllStandardError();
        return o;
    }
#endif

private slots:
    // The German locale is made from the system's sources into a folder of the test's own.
    void initTestCase() {
#ifndef DMMVIEW_PATH
        QSKIP("the program is not built");
#else
        QVERIFY(locales_.isValid());
        QProcess make;
        make.start("localedef", {"-i", "de_DE", "-f", "UTF-8", locales_.filePath(kGerman)});
        QVERIFY2(make.waitForFinished(120000) && make.exitCode() == 0,
                 qPrintable("localedef (package locales) could not make de_DE.UTF-8: " +
                            QString::fromLocal8Bit(make.readAllStandardError())));
        // the comma is what the runs below must not pick up
        QProcess ask;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", kGerman);
        env.insert("LOCPATH", locales_.path());
        ask.setProcessEnvironment(env);
        ask.start("locale", {"decimal_point"});
        QVERIFY(ask.waitForFinished(30000));
        QCOMPARE(ask.readAllStandardOutput().trimmed(), QByteArray(","));
#endif
    }

    // A capture through --decode: its lines, the three kinds of recorded file and the published
    // messages are byte for byte those of the C locale.
    void decodedCaptureWritesTheSameNumbers_data() {
        QTest::addColumn<QString>("output");
        QTest::newRow("lines and CSV") << "run.csv";
        QTest::newRow("text") << "run.txt";
        QTest::newRow("table") << "run.db";
        QTest::newRow("published") << "mqtt";
    }
    void decodedCaptureWritesTheSameNumbers() {
#ifdef DMMVIEW_PATH
        QFETCH(QString, output);
        QTemporaryDir dir;
        const QString capture = dir.filePath("cycle.bin");
        {
            QFile f(capture);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(scenarioBytes(ScenarioKind::Cycle, 400));
        }
        std::unique_ptr<LocalBroker> broker;
        std::unique_ptr<Subscriber> watcher;
        if (output == "mqtt") {
            broker = std::make_unique<LocalBroker>(dir.path().toStdString());
            QVERIFY(broker->start());
            watcher = std::make_unique<Subscriber>(*broker, "loc/#", "watcher");
        }
        QByteArray seen[2], lines[2];
        const QString locales[2] = {kPlain, kGerman};
        for (int k = 0; k < 2; ++k) {
            const QString folder = dir.filePath(QString::number(k));
            QVERIFY(QDir().mkpath(folder));
            QStringList args{"--decode", capture, "--model", "KR31G", "--start", "2026-03-01T12:00:00"};
            const QString record = output == "mqtt" ? QString("run.csv") : output;
            args << "--record" << record;
            if (output == "mqtt")
                args << "--publish" << QString::fromStdString(broker->url()) + "/loc/" + QString::number(k)
                     << "--publish-id"
                     << "meter";
            const Outcome o = runIn(locales[k], folder, args);
            QVERIFY2(o.code == 0, o.err.constData());
            lines[k] = o.out;
            seen[k] = fileBytes(folder + "/" + record);
            if (output == "mqtt") {
                const std::string topic = "loc/" + std::to_string(k) + "/meter/reading";
                const auto readings = [&topic](const std::vector<Subscriber::Message>& all) {
                    return std::count_if(all.begin(), all.end(),
                                         [&](const Subscriber::Message& m) { return m.topic == topic; });
                };
                const QRegularExpressionMatch published =
                    QRegularExpression("readings published (\\d+), dropped 0, not sent 0\n").match(o.err);
                QVERIFY2(published.hasMatch(), o.err.constData());
                const long sent = published.captured(1).toLong();
                QVERIFY(watcher->waitFor([&](const auto& all) { return readings(all) == sent; }));
                seen[k].clear();
                for (const Subscriber::Message& m : watcher->messages())
                    if (m.topic == topic) seen[k] += QByteArray::fromStdString(m.payload) + '\n';
            }
        }
        QVERIFY2(lines[0].count('\n') >= 300, lines[0].constData());
        QVERIFY2(lines[0].contains('.'), lines[0].constData());
        QVERIFY2(lines[0] == lines[1], firstDifference(lines[0], lines[1]).constData());
        QVERIFY(!seen[0].isEmpty());
        QVERIFY2(seen[0] == seen[1], firstDifference(seen[0], seen[1]).constData());
#endif
    }

    // The headless bench over two meters on their lines, a steady 1.234 V and the simulator's
    // cycle through every range, and a math channel: the rows of its file and the statistics of
    // the steady channels are those of the C locale. The feed repeats the cycle until each run
    // has recorded it twice over, wherever it came in.
    void benchWritesTheSameNumbers() {
#ifdef DMMVIEW_PATH
        QTemporaryDir dir;
        const QByteArray steady = scenarioBytes(ScenarioKind::Steady, 1).mid(1);  // one frame
        const QByteArray cycle = scenarioBytes(ScenarioKind::Cycle, 400).mid(1);
        const int frameSize = steady.size();
        const int cycleFrames = cycle.size() / frameSize;
        QSet<QByteArray> rows[2];
        QList<QByteArray> statistics[2];
        const QString locales[2] = {kPlain, kGerman};
        for (int k = 0; k < 2; ++k) {
            PseudoTerminal u, c;
            const QString record = dir.filePath(QString("bench%1.csv").arg(k));
            int sent = 0;
            const Outcome o = runIn(
                locales[k], dir.path(),
                {"--meter", "U=KR31G@" + QString::fromStdString(u.slavePath), "--meter",
                 "C=KR31G@" + QString::fromStdString(c.slavePath), "--math", "P=U*U", "--record", record},
                [&](QProcess& run) {
                    QTimer feed;
                    QObject::connect(&feed, &QTimer::timeout, [&] {
                        // the lines are raw once the program has opened them: before, a line
                        // discipline would change the bytes
                        termios t{};
                        if (::tcgetattr(u.master, &t) != 0 || (t.c_lflag & ICANON)) return;
                        if (::tcgetattr(c.master, &t) != 0 || (t.c_lflag & ICANON)) return;
                        const int at = sent % cycleFrames * frameSize;
                        if (::write(u.master, steady.constData(), size_t(frameSize)) != frameSize ||
                            ::write(c.master, cycle.constData() + at, size_t(frameSize)) != frameSize)
                            feed.stop();
                        ++sent;
                    });
                    feed.start(5);
                    // three cycles in the file hold two whole ones
                    const bool enough = QTest::qWaitFor(
                        [&] { return fileBytes(record).count(",C,") >= 3 * cycleFrames; }, 90000);
                    feed.stop();
                    ::kill(pid_t(run.processId()), SIGTERM);
                    QVERIFY2(enough, qPrintable(QString("%1 frames sent").arg(sent)));
                });
            QVERIFY2(o.code == 0, o.err.constData());
            rows[k] = rowsWithoutTime(fileBytes(record));
            for (const QByteArray& line : o.out.split('\n')) {
                QList<QByteArray> fields = line.split('\t');
                // channel, numbers, gaps, overloads, mean, stddev, min, max, unit
                if (fields.size() == 9 && (fields[0] == "U" || fields[0] == "P")) {
                    // the numbers and gaps depend on when the run was ended
                    fields.remove(1, 2);
                    statistics[k] << fields.join('\t');
                }
            }
        }
        QVERIFY(rows[0].contains("U,1.234,V,1.234 V,DC,AUTO"));
        QVERIFY(rows[0].contains("P,1.522756,V²,,DC,AUTO") || rows[0].contains("P,1.522756,V²,,,"));
        const QSet<QByteArray> onlyPlain = rows[0] - rows[1], onlyGerman = rows[1] - rows[0];
        QVERIFY2(onlyPlain.isEmpty() && onlyGerman.isEmpty(),
                 (QList<QByteArray>(onlyPlain.begin(), onlyPlain.end()).join(' ') + " against " +
                  QList<QByteArray>(onlyGerman.begin(), onlyGerman.end()).join(' '))
                     .constData());
        QCOMPARE(statistics[0], (QList<QByteArray>{"U\t0\t1.234\t0\t1.234\t1.234\tV",
                                                   "P\t0\t1.522756\t0\t1.522756\t1.522756\tV²"}));
        QCOMPARE(statistics[1], statistics[0]);
#endif
    }
};

QTEST_GUILESS_MAIN(LocaleNumbers)
#include "tst_locale_numbers.moc"
