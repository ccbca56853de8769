// The program itself, recording from its simulated meter or as the headless logger, killed with
// SIGKILL: the journal it leaves holds the run up to its last second, and --recover writes those
// rows out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <algorithm>
#include <csignal>
#include <fstream>

#include "../serial/PseudoTerminal.h"
#include "FrameEncoder.h"
#include "RecordJournal.h"

namespace {

int countLines(const QString& path) {
    std::ifstream text(path.toStdString());
    int lines = 0;
    for (std::string line; std::getline(text, line);) ++lines;
    return lines;
}

}  // namespace

class KilledRun : public QObject {
    Q_OBJECT

private slots:
    void killedWindowRunKeepsItsRows() {
#if !defined(DMMVIEW_PATH)
        QSKIP("no program with a simulated meter in this build");
#else
        QTemporaryDir dir;
        const std::string journal = dir.filePath("Kr47bdb.journal").toStdString();
        QProcess run;
        run.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        run.setProcessEnvironment(env);
        run.start(DMMVIEW_PATH, {"--demo", "--connect", "--scenario", "ramp"});
        QVERIFY(run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!RecordJournal::read(journal).rows.empty(), 15000);
        QTest::qWait(1600);
        const int killedAt = QTime::currentTime().msecsSinceStartOfDay();
        QVERIFY(::kill(static_cast<pid_t>(run.processId()), SIGKILL) == 0);
        QVERIFY(run.waitForFinished());
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);

        const RecordJournal::Contents left = RecordJournal::read(journal);
        QVERIFY(!left.rows.empty());
        for (std::size_t i = 0; i < left.rows.size(); ++i) QCOMPARE(left.rows[i].no, int32_t(i + 1));
        // a reading arrives every few hundred milliseconds, and the journal is written every second
        const int lastKept = left.rows.back().timeMs;
        if (lastKept <= killedAt)  // not across midnight
            QVERIFY2(killedAt - lastKept <= 1000 + 500,
                     qPrintable(QStringLiteral("the last row kept is %1 ms older than the kill")
                                    .arg(killedAt - lastKept)));

        QProcess recover;
        recover.setWorkingDirectory(dir.path());
        recover.start(DMMVIEW_PATH, {"--recover", "Kr47bdb.journal", "run.txt"});
        QVERIFY(recover.waitForFinished());
        QCOMPARE(recover.exitCode(), 0);
        QCOMPARE(std::size_t(countLines(dir.filePath("run.txt"))), left.rows.size() + 1);
        qInfo("%zu rows kept; the last one %d ms before the kill", left.rows.size(), killedAt - lastKept);
#endif
    }

    // The headless logger on a terminal fed one distinct reading every 40 ms, killed: every frame
    // sent more than a second before the kill is a row of the journal, in order, and --recover
    // writes them. A new run on the same file leaves that journal alone; a run ended normally
    // writes its file and takes its journal away.
    void killedLoggerKeepsItsRows() {
#if !defined(DMMVIEW_PATH)
        QSKIP("no program or frame encoder in this build");
#else
        QTemporaryDir dir;
        const QString journal = dir.filePath("run.db.journal");
        PseudoTerminal line;
        QVERIFY(!line.slavePath.empty());
        const QStringList args{"--decode", QString::fromStdString(line.slavePath), "--record", "run.db",
                               "--no-repeat"};
        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(DMMVIEW_PATH, args);
        QVERIFY(run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(journal), 10000);
        QTest::qWait(300);  // the device is opened and set up

        auto frameFor = [](int counts) {
            dmmsim::SimReading r;
            for (int d = 3, v = counts; d >= 0; --d, v /= 10) r.digits[std::size_t(d)] = char('0' + v % 10);
            const auto bytes = dmmsim::encodeSegmentFrame(r);
            return std::string(bytes.begin(), bytes.end());
        };
        QElapsedTimer clock;
        clock.start();
        std::vector<qint64> sentAt;
        while (clock.elapsed() < 2600) {
            const std::string frame = frameFor(int(sentAt.size()) + 1);
            QCOMPARE(::write(line.master, frame.data(), frame.size()), ssize_t(frame.size()));
            sentAt.push_back(clock.elapsed());
            QTest::qWait(40);
        }
        const qint64 killedAt = clock.elapsed();
        QVERIFY(::kill(static_cast<pid_t>(run.processId()), SIGKILL) == 0);
        QVERIFY(run.waitForFinished());

        const RecordJournal::Contents left = RecordJournal::read(journal.toStdString());
        QVERIFY(!left.rows.empty());
        // frames sent before the device was open are not read; from the first row on none is missing
        const int firstFrame = int(left.rows.front().nval);
        for (std::size_t i = 0; i < left.rows.size(); ++i) {
            QCOMPARE(left.rows[i].no, int32_t(i + 1));
            QCOMPARE(left.rows[i].nval, double(firstFrame + int(i)));
        }
        // 100 ms for the logger to read and decode a frame
        const auto due =
            std::count_if(sentAt.begin(), sentAt.end(), [&](qint64 t) { return t < killedAt - 1100; });
        QVERIFY2(due - firstFrame + 1 >= 20, qPrintable(QStringLiteral("only %1 frames were due").arg(due)));
        QVERIFY2(firstFrame - 1 + qsizetype(left.rows.size()) >= due,
                 qPrintable(
                     QStringLiteral("%1 rows kept from frame %2; %3 frames were sent more than 1.1 s before "
                                    "the kill")
                         .arg(left.rows.size())
                         .arg(firstFrame)
                         .arg(due)));

        // the rows of the killed run are neither overwritten nor emptied by the next run
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(DMMVIEW_PATH, args);
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY2(tool.readAllStandardError().contains("--recover"), "the refusal says how to get the rows");
        QCOMPARE(RecordJournal::read(journal.toStdString()).rows.size(), left.rows.size());

        // once they are written out the journal has done its job
        tool.start(DMMVIEW_PATH, {"--recover", "run.db.journal", "run.txt"});
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(std::size_t(countLines(dir.filePath("run.txt"))), left.rows.size() + 1);
        QVERIFY(!QFile::exists(journal));
        run.start(DMMVIEW_PATH, args);
        QVERIFY(run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(journal), 10000);
        QTest::qWait(300);
        for (int i = 1; i <= 3; ++i) {
            const std::string frame = frameFor(i);
            QCOMPARE(::write(line.master, frame.data(), frame.size()), ssize_t(frame.size()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(RecordJournal::read(journal.toStdString()).rows.size() == 3, 5000);
        run.terminate();
        QVERIFY(run.waitForFinished());
        QCOMPARE(run.exitCode(), 0);
        QVERIFY(QFile::exists(dir.filePath("run.db")));
        QVERIFY(!QFile::exists(journal));
#endif
    }

    // A logger reading a live pipe (standard input or a named one) journals its rows on time, even
    // at a trickle; interrupted, or its terminal closed, the read is broken off and the rows stored
    // so far are written.
    void interruptedPipeLoggerWritesItsRows_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("signal");
        QTest::newRow("standard input, SIGINT") << "-" << int(SIGINT);
        QTest::newRow("standard input, SIGHUP") << "-" << int(SIGHUP);
        QTest::newRow("named pipe, SIGTERM") << "fifo" << int(SIGTERM);
    }
    void interruptedPipeLoggerWritesItsRows() {
#if !defined(DMMVIEW_PATH)
        QSKIP("no program or frame encoder in this build");
#else
        QFETCH(QString, source);
        QFETCH(int, signal);
        QTemporaryDir dir;
        QProcess run;
        run.setWorkingDirectory(dir.path());
        const QByteArray fifoPath = dir.filePath(source).toLocal8Bit();
        if (source == "fifo") QVERIFY(::mkfifo(fifoPath.constData(), 0600) == 0);
        run.start(DMMVIEW_PATH, {"--decode", source, "--record", "run.txt", "--no-repeat"});
        QVERIFY(run.waitForStarted());
        int fifo = -1;
        if (source == "fifo")
            QTRY_VERIFY_WITH_TIMEOUT((fifo = ::open(fifoPath, O_WRONLY | O_NONBLOCK)) >= 0, 5000);
        std::string frames;
        for (int n = 1; n <= 30; ++n) {
            dmmsim::SimReading r;
            for (int d = 3, v = n; d >= 0; --d, v /= 10) r.digits[std::size_t(d)] = char('0' + v % 10);
            const auto bytes = dmmsim::encodeSegmentFrame(r);
            frames.append(bytes.begin(), bytes.end());
        }
        if (fifo >= 0) {
            QCOMPARE(::write(fifo, frames.data(), frames.size()), ssize_t(frames.size()));
        } else {
            run.write(frames.data(), qint64(frames.size()));
            QVERIFY(run.waitForBytesWritten());
        }
        // the pipe stays open: the logger waits for more, with its rows in the journal
        QTRY_COMPARE_WITH_TIMEOUT(RecordJournal::read(dir.filePath("run.txt.journal").toStdString()).rowCount,
                                  int64_t(30), 2000);
        QCOMPARE(run.state(), QProcess::Running);
        QVERIFY(::kill(static_cast<pid_t>(run.processId()), signal) == 0);
        QVERIFY(run.waitForFinished(5000));
        if (fifo >= 0) ::close(fifo);
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(countLines(dir.filePath("run.txt")), 31);  // header and the 30 readings
#endif
    }
};

QTEST_GUILESS_MAIN(KilledRun)
#include "tst_killed_run.moc"
