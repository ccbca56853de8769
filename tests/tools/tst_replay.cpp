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

// Runs dmmview to its end and returns what it printed on standard output.
QByteArray runToEnd(const QStringList& args, int* code = nullptr, QByteArray* err = nullptr) {
    QProcess p;
    p.start(kDmmview, args);
    p.waitForFinished(20000);
    if (code) *code = p.exitCode();
    if (err) *err = p.readAllStandardError();
    return p.readAllStandardOutput();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class Replay : public QObject {
    Q_OBJECT

private slots:
    void liveRunKeptDecodedAndReplayed_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("scenario");
        QTest::newRow("KR31E, noisy line") << "KR31E"
                                           << "noise";
        QTest::newRow("KR31G") << "KR31G"
                               << "cycle";
    }
    void liveRunKeptDecodedAndReplayed();
};

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
    QByteArray said;
    const QByteArray live =
        runToEnd({"--decode", line, "--model", model, "--save-bytes", kept}, nullptr, &said);
    meter.waitForFinished(5000);
    QVERIFY2(said.contains("was lost"), said.constData());
    QVERIFY2(live.count('\n') > 20, live.constData());
    const qsizetype keptSize = fileBytes(kept).size();
    QVERIFY(keptSize > 0);

    int code = -1;
    QCOMPARE(runToEnd({"--decode", kept, "--model", model}, &code), live);
    QCOMPARE(code, 0);
    // keeping the bytes of a file in that very file would never end; copying a file onto
    // itself would destroy it
    runToEnd({"--decode", kept, "--save-bytes", kept}, &code);
    QCOMPARE(code, 2);
    QProcess copy;
    copy.start(kDmmsim, {"--replay", kept, "--capture", kept});
    QVERIFY(copy.waitForFinished(5000) && copy.exitCode() != 0);
    QCOMPARE(fileBytes(kept).size(), keptSize);

    // played back at the meter's pace into a terminal the program reads
    QProcess replay;
    const QString again = startSimulator(replay, {"--model", model, "--replay", kept, "--pty", "--verbose"});
    QVERIFY(again.startsWith("/dev/"));
    QProcess reader;
    reader.start(kDmmview, {"--decode", again, "--model", model});
    QVERIFY(reader.waitForStarted(5000));
    said.clear();
    QTRY_VERIFY_WITH_TIMEOUT((said += replay.readAllStandardError()).contains("replayed"), 15000);
    QTest::qWait(1000);  // the reader takes the last bytes
    reader.terminate();
    QVERIFY(reader.waitForFinished(5000));
    QCOMPARE(reader.readAllStandardOutput(), live);
    // the line closed by its reader ends the replay
    QVERIFY(replay.waitForFinished(5000));
    QCOMPARE(replay.exitCode(), 0);
}

QTEST_GUILESS_MAIN(Replay)
#include "tst_replay.moc"
