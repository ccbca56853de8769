// A line kept and played back, with the programs as a user runs them: a live run of dmmview
// against the simulator keeps its bytes with --save-bytes; decoding the kept file and replaying it
// into a pseudo-terminal give the readings of the live run again, in the same order.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kDmmview = QStringLiteral(DMMVIEW_BIN);
const QString kDmmsim = QStringLiteral(DMMSIM_BIN);

// Starts dmmsim with a pseudo-terminal and returns the path it prints.
QString startSimulator(QProcess& sim, const QStringList& args) {
    sim.start(kDmmsim, args);
    if (!sim.waitForStarted(5000)) return {};
    while (!sim.canReadLine() && sim.waitForReadyRead(5000)) {
    }
    return QString::fromUtf8(sim.readLine()).trimmed();
}

struct Result {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Result runToEnd(const QStringList& args) {
    QProcess p;
    p.start(kDmmview, args);
    p.waitForFinished(20000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class Replay : public QObject {
    Q_OBJECT

private slots:
    void liveRunKeptDecodedAndReplayed_data();
    void liveRunKeptDecodedAndReplayed();
    void replayRefusesWhatWouldLoseBytes();
};

void Replay::liveRunKeptDecodedAndReplayed_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("scenario");
    QTest::newRow("KR31E, noisy line") << "KR31E"
                                       << "noise";
    QTest::newRow("KR31G") << "KR31G"
                           << "cycle";
}

void Replay::liveRunKeptDecodedAndReplayed() {
    QFETCH(QString, model);
    QFETCH(QString, scenario);
    QTemporaryDir dir;
    const QString kept = dir.filePath("line.bin");

    // the live run: the meter goes on until its last frame, then the line is gone
    QProcess meter;
    const QString line = startSimulator(
        meter, {"--model", model, "--scenario", scenario, "--count", "60", "--interval", "40", "--pty"});
    QVERIFY(line.startsWith("/dev/"));
    const Result live = runToEnd({"--decode", line, "--model", model, "--save-bytes", kept});
    meter.waitForFinished(5000);
    QVERIFY2(live.err.contains("was lost"), live.err.constData());
    const QList<QByteArray> readings = live.out.split('\n');
    QVERIFY2(readings.size() > 20, live.out.constData());
    QVERIFY(fileBytes(kept).size() > 0);

    const Result decoded = runToEnd({"--decode", kept, "--model", model});
    QCOMPARE(decoded.code, 0);
    QCOMPARE(decoded.out, live.out);

    // played back at the meter's pace into a terminal the program reads
    QProcess replay;
    const QString again = startSimulator(replay, {"--model", model, "--replay", kept, "--pty", "--verbose"});
    QVERIFY(again.startsWith("/dev/"));
    QProcess reader;
    reader.start(kDmmview, {"--decode", again, "--model", model});
    QVERIFY(reader.waitForStarted(5000));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += replay.readAllStandardError()).contains("replayed"), 15000);
    QTest::qWait(1000);  // the reader takes the last bytes
    reader.terminate();
    QVERIFY(reader.waitForFinished(5000));
    QCOMPARE(reader.readAllStandardOutput(), live.out);
    // the line closed by its reader ends the replay
    QVERIFY(replay.waitForFinished(5000));
    QCOMPARE(replay.exitCode(), 0);
}

void Replay::replayRefusesWhatWouldLoseBytes() {
    QTemporaryDir dir;
    const QString kept = dir.filePath("line.bin");
    QFile f(kept);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\x10\x21\x32", 3);
    f.close();

    struct Case {
        QStringList args;
        const char* words;
    };
    const Case cases[] = {
        {{"--replay", kept, "--capture", kept}, "it is the file being replayed"},
        {{"--replay", dir.filePath("missing.bin"), "--capture", dir.filePath("out.bin")}, "missing.bin"},
        {{"--replay", kept, "--scenario", "noise", "--pty"}, "--scenario does not apply"},
    };
    for (const Case& c : cases) {
        QProcess sim;
        sim.start(kDmmsim, c.args);
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY(sim.exitCode() != 0);
        const QByteArray err = sim.readAllStandardError();
        QVERIFY2(err.contains(c.words), err.constData());
    }
    QCOMPARE(fileBytes(kept), QByteArray("\x10\x21\x32", 3));

    // into a capture: the same bytes, nothing added
    QProcess copy;
    copy.start(kDmmsim, {"--replay", kept, "--capture", dir.filePath("copy.bin")});
    QVERIFY(copy.waitForFinished(5000));
    QCOMPARE(copy.exitCode(), 0);
    QCOMPARE(fileBytes(dir.filePath("copy.bin")), fileBytes(kept));
}

QTEST_GUILESS_MAIN(Replay)
#include "tst_replay.moc"
