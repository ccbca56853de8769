// The program itself, recording from its simulated meter, killed with SIGKILL: the journal it
// leaves holds the run up to its last second, and --recover writes those rows out.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <csignal>
#include <fstream>

#include "RecordJournal.h"

class KilledRun : public QObject {
    Q_OBJECT

private slots:
    void killedWindowRunKeepsItsRows() {
#if !defined(DMM_HAVE_DEMO) || !defined(DMMVIEW_PATH)
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
                     qPrintable(QStringLiteral("the last row kept is %1 ms older than the kill").arg(killedAt - lastKept)));

        QProcess recover;
        recover.setWorkingDirectory(dir.path());
        recover.start(DMMVIEW_PATH, {"--recover", "Kr47bdb.journal", "run.txt"});
        QVERIFY(recover.waitForFinished());
        QCOMPARE(recover.exitCode(), 0);
        std::ifstream text(dir.filePath("run.txt").toStdString());
        std::size_t lines = 0;
        for (std::string line; std::getline(text, line);) ++lines;
        QCOMPARE(lines, left.rows.size() + 1);
        qInfo("%zu rows kept; the last one %d ms before the kill", left.rows.size(), killedAt - lastKept);
#endif
    }
};

QTEST_GUILESS_MAIN(KilledRun)
#include "tst_killed_run.moc"
