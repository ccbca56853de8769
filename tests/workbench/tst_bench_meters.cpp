#include <sys/resource.h>

#include <QDateTime>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <csignal>

#include "BenchModel.h"
#include "BenchRecorder.h"
#include "BenchSession.h"
#include "BenchTestSupport.h"
#include "MeterSource.h"

using dmmsim::SimFunction;

namespace {

// The rows of a CSV file as Python's csv module reads them, one line of tab-joined fields each.
QStringList rowsAsPythonReadsThem(const QString& path) {
    QProcess python;
    python.start("python3", {"-c",
                             "import csv, sys\n"
                             "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                             "    for row in csv.reader(f, strict=True): print('\\t'.join(row))\n",
                             path});
    python.waitForFinished(30000);
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// Whether every line of the recording is a whole row of seven fields ending in CR LF, after one
// header; gives the number of rows.
int wholeRows(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = file.readAll();
    if (!text.endsWith("\r\n")) return -1;
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();  // after the last CR LF
    if (lines[0] != "Date and time,Channel,Number,Unit,Value,AC/DC,AUTO/MANU\r") return -1;
    for (const QByteArray& line : lines.mid(1)) {
        if (!line.endsWith('\r') || line.count(',') != 6 || !line.startsWith("20")) return -1;
    }
    return int(lines.size()) - 1;
}

// A headless bench recording one meter into `record`, its files limited to `sizeLimit` bytes
// (0: none) as a full disk would; the signal for going past the limit is ignored, so writes fail.
std::unique_ptr<QProcess> recordingBench(const QString& folder, const FedLine& line, const QString& record,
                                         rlim_t sizeLimit = 0) {
    auto run = std::make_unique<QProcess>();
    run->setWorkingDirectory(folder);
    if (sizeLimit > 0) {
        run->setChildProcessModifier([sizeLimit] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{sizeLimit, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    run->start(DMMVIEW_PATH,
               {"--meter", "U=KR31G@" + QString::fromStdString(line.path()), "--record", record});
    return run;
}

QString tail(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(300)) : QString("missing");
}

int endRun(QProcess& run, QString* err = nullptr) {
    ::kill(pid_t(run.processId()), SIGTERM);
    if (!run.waitForFinished(10000)) return -1;
    if (err) *err = QString::fromUtf8(run.readAllStandardError());
    return run.exitCode();
}

QString numberText(double v) {
    return std::isnan(v) ? QString() : QString::number(v, 'g', 15);
}

}  // namespace

class BenchMetersTest : public QObject {
    Q_OBJECT
private slots:
    // Two meters on their lines, P = U * I and its integral, recorded in long form.
    void powerAndEnergyOfTwoMeters() {
        QTemporaryDir dir;
        FedLine voltage("KR31G", SimFunction::Volts, [](int) { return 12.0; });
        FedLine current("KR31G", SimFunction::MilliAmps, [](int) { return 0.5; });
        BenchModel model;
        BenchSession session(model);
        QString error;
        QVERIFY2(session.addLocalMeter({"U", "KR31G", false, voltage.path()}, &error), qPrintable(error));
        QVERIFY2(session.addLocalMeter({"I", "KR31G", false, current.path()}, &error), qPrintable(error));
        const int p = session.addMath("P", "U * I").id;
        const int e = session.addMath("E", "integral(P)").id;
        QVERIFY(session.startRecording(dir.filePath("bench.csv"), &error));
        QStringList seen;  // every reading as the file should have it: channel, number, unit, value
        qint64 firstPower = -1, energyAt10s = -1, energyBefore10s = -1;
        double energy = 0, energyBefore = 0;
        connect(&model, &BenchModel::readingAdded, [&](int id, const BenchReading& r) {
            const ChannelInfo* ch = model.channel(id);
            seen << QStringList{ch->name, numberText(r.value), r.unit,
                                ch->kind == ChannelKind::Meter ? r.display : QString()}
                        .join('\t');
            if (id == p && r.hasValue() && firstPower < 0) firstPower = r.timeMs;
            // the energies either side of ten seconds after the first power
            if (id == e && r.hasValue() && firstPower >= 0 && energyAt10s < 0) {
                if (r.timeMs < firstPower + 10000) {
                    energyBefore10s = r.timeMs;
                    energyBefore = r.value;
                } else {
                    energyAt10s = r.timeMs;
                    energy = r.value;
                }
            }
        });
        voltage.start();
        current.start();
        QTRY_VERIFY_WITH_TIMEOUT(energyAt10s > 0, 60000);
        QCOMPARE(model.latest(p)->display, QString("6.000 W"));
        QCOMPARE(model.latest(p)->unit, QString("W"));
        // exact for the readings' own times, and 0.01667 Wh at ten seconds of them
        QVERIFY(std::fabs(energy - 6.0 * double(energyAt10s - firstPower) / 3.6e6) < 1e-12);
        QVERIFY(std::fabs(energyBefore - 6.0 * double(energyBefore10s - firstPower) / 3.6e6) < 1e-12);
        QVERIFY2(energyBefore10s > firstPower && energyBefore < 6.0 * 10 / 3600 &&
                     6.0 * 10 / 3600 <= energy + 1e-15,
                 qPrintable(QString("%1 Wh, then %2 Wh").arg(energyBefore).arg(energy)));

        // the current's meter stops: P is a gap once its last reading is stale
        current.stop();
        QTRY_VERIFY_WITH_TIMEOUT(model.latest(p)->isGap(), 30000);
        QCOMPARE(model.staleAfterMs(model.channelId("I")), qint64(1500));
        voltage.stop();

        QVERIFY(session.finishRecording(&error));
        QStringList rows = rowsAsPythonReadsThem(dir.filePath("bench.csv"));
        QCOMPARE(rows.takeFirst(), QString("Date and time\tChannel\tNumber\tUnit\tValue\tAC/DC\tAUTO/MANU"));
        QCOMPARE(rows.size(), seen.size());
        for (int k = 0; k < rows.size(); ++k) {
            QStringList fields = rows[k].split('\t');
            QCOMPARE(fields.size(), 7);
            QVERIFY(fields[0].contains(
                QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$")));
            fields[2] = fields[2].isEmpty() ? QString() : numberText(fields[2].toDouble());
            QCOMPARE(QStringList(fields.mid(1, 4)).join('\t'), seen[k]);
        }
        QVERIFY(seen.contains("I\t0.5\tA\t500.0 mA"));
    }

    // Mean and deviation of a ramp match those of the rows recorded.
    void rampStatisticsMatchTheRecordedRows() {
        QTemporaryDir dir;
        FedLine ramp(
            "KR31G", SimFunction::Volts, [](int k) { return 1.0 + 0.01 * (k % 150); }, 20);
        BenchModel model;
        BenchSession session(model);
        QVERIFY(session.addLocalMeter({"R", "KR31G", false, ramp.path()}));
        QVERIFY(session.startRecording(dir.filePath("ramp.csv")));
        ramp.start();
        QTRY_VERIFY_WITH_TIMEOUT(model.readingCount(model.channelId("R")) >= 200, 60000);
        ramp.stop();
        // every frame sent is a reading: the run ends once the last has come
        QTRY_COMPARE_WITH_TIMEOUT(model.readingCount(model.channelId("R")), uint64_t(ramp.sent()), 30000);
        QVERIFY(session.finishRecording());
        std::vector<double> values;
        for (const QString& row : rowsAsPythonReadsThem(dir.filePath("ramp.csv")).mid(1))
            values.push_back(row.split('\t')[2].toDouble());
        double sum = 0, squares = 0;
        for (const double v : values) sum += v;
        const double mean = sum / double(values.size());
        for (const double v : values) squares += (v - mean) * (v - mean);
        const ChannelStats s = model.statistics(model.channelId("R"));
        QCOMPARE(s.count, uint64_t(values.size()));
        QVERIFY(std::fabs(s.mean - mean) < 1e-12);
        QVERIFY(std::fabs(s.stddev - std::sqrt(squares / double(values.size() - 1))) < 1e-12);
        QVERIFY(s.stddev > 0.3);
    }

    // A local meter whose line carries bytes its model cannot read says on its channel which
    // models the bytes fit; the first reading of the right model takes the note away.
    void wrongModelIsNotedOnTheChannel() {
        FedLine line("KR31E", SimFunction::Volts, [](int) { return 1.0; });
        BenchModel model;
        LocalMeterSource meter({"U", "KR31G", false, line.path()}, model);
        QString error;
        QVERIFY2(meter.start(&error), qPrintable(error));
        const int id = meter.channelId();
        QSignalSpy noted(&model, &BenchModel::noteChanged);
        line.start();
        QTRY_VERIFY_WITH_TIMEOUT(!model.note(id).isEmpty(), 15000);
        QVERIFY2(model.note(id).contains("KR31E"), qPrintable(model.note(id)));
        QVERIFY(!model.latest(id));
        QCOMPARE(noted.size(), 1);
    }

    // A bench kept from an earlier run comes back whole, a meter whose adapter is away included
    // (offline, tried again), and is kept as it was.
    void restoredFromTheSettings() {
        QTemporaryDir dir;
        FedLine voltage("KR31G", SimFunction::Volts, [](int) { return 12.0; });
        BenchSettings kept;
        kept.meters = {{"U", "KR31G", false, QString::fromStdString(voltage.path())},
                       {"I", "KR31E", false, dir.filePath("gone")}};
        kept.maths = {{"P", "U * I"}, {"E", "integral(P)"}};
        {
            QSettings file(dir.filePath("bench.ini"), QSettings::IniFormat);
            saveBenchSettings(file, kept);
        }
        QSettings file(dir.filePath("bench.ini"), QSettings::IniFormat);
        BenchModel model;
        BenchSession session(model);
        QStringList errors;
        session.restore(loadBenchSettings(file), {}, &errors);
        QCOMPARE(model.channelIds().size(), 4);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("I: cannot open '" + dir.filePath("gone") + "'"),
                 qPrintable(errors[0]));
        QVERIFY(model.isOnline(model.channelId("U")) && !model.isOnline(model.channelId("I")));
        voltage.start();
        QTRY_VERIFY(model.latest(model.channelId("U")));
        QVERIFY(model.latest(model.channelId("P"))->isGap());
        const BenchSettings again = session.settings();
        QCOMPARE(again.meters.size(), 2);
        QCOMPARE(again.meters[1].path, dir.filePath("gone"));
        QCOMPARE(again.maths.size(), 2);
        QCOMPARE(again.maths[1].expression, QString("integral(P)"));
    }

#ifdef DMMVIEW_PATH
    // Without a window: refused expressions say where, a silent meter fails the run, and the
    // file holds the readings of the other.
    void headlessRun() {
        QTemporaryDir dir;
        FedLine voltage("KR31G", SimFunction::Volts, [](int) { return 12.0; });
        PseudoTerminal silent;
        const QString record = dir.filePath("run.csv");
        const QString u = "U=KR31G@" + QString::fromStdString(voltage.path());
        QProcess bad;
        bad.start(DMMVIEW_PATH, {"--meter", u, "--math", "P=U * (U", "--record", record});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
        const QString said = QString::fromUtf8(bad.readAllStandardError());
        QVERIFY2(said.contains("P: ')' expected at character 7\n  U * (U\n        ^"), qPrintable(said));

        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(DMMVIEW_PATH,
                  {"--meter", u, "--meter", "S=KR31E@" + QString::fromStdString(silent.slavePath), "--math",
                   "P=U*U", "--record", record});
        voltage.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > 200, 10000);  // written while it runs
        ::kill(pid_t(run.processId()), SIGTERM);
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitCode(), 1);
        const QString err = QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(err.contains("S: no reading was decoded from " + QString::fromStdString(silent.slavePath)),
                 qPrintable(err));
        const QString out = QString::fromUtf8(run.readAllStandardOutput());
        QVERIFY2(out.contains(QRegularExpression("\nP\t\\d+\t0\t0\t144\t0\t144\t144\tV\u00B2\n")),
                 qPrintable(out));
        const QStringList rows = rowsAsPythonReadsThem(record);
        QVERIFY(rows.size() > 3);
        QVERIFY(rows.filter(QRegularExpression("^[^\t]+\tU\t12\tV\t12.00 V\tDC\tAUTO$")).size() >= 1);
    }

    // Killed outright, the run leaves whole rows up to half a second before its end.
    void killedRunLosesAtMostHalfASecond() {
        QTemporaryDir dir;
        FedLine voltage(
            "KR31G", SimFunction::Volts, [](int) { return 12.0; }, 50);
        const QString record = dir.filePath("killed.csv");
        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(DMMVIEW_PATH,
                  {"--meter", "U=KR31G@" + QString::fromStdString(voltage.path()), "--record", record});
        QVERIFY(run.waitForStarted());
        voltage.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > 200, 10000);
        QTest::qWait(1500);
        const qint64 killedAt = QDateTime::currentMSecsSinceEpoch();
        ::kill(pid_t(run.processId()), SIGKILL);
        QVERIFY(run.waitForFinished(5000));
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.endsWith("\r\n"));
        const QList<QByteArray> rows = text.trimmed().split('\n');
        const QDateTime last =
            QDateTime::fromString(QString::fromUtf8(rows.back().split(',')[0]), Qt::ISODateWithMs);
        QVERIFY2(killedAt - last.toMSecsSinceEpoch() <= 500 + 100,
                 qPrintable(QString::number(killedAt - last.toMSecsSinceEpoch())));
    }

    // A file another bench records into is refused, by whatever name it is reached.
    void secondBenchOnTheSameFileRefused() {
        QTemporaryDir dir;
        FedLine voltage(
            "KR31G", SimFunction::Volts, [](int) { return 12.0; }, 50);
        FedLine another(
            "KR31G", SimFunction::Volts, [](int) { return 12.0; }, 50);
        const QString record = dir.filePath("one.csv");
        auto first = recordingBench(dir.path(), voltage, record);
        voltage.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > 200, 10000);
        QVERIFY(QFile::link(record, dir.filePath("other-name.csv")));
        for (const QString& name : {record, dir.filePath("other-name.csv")}) {
            auto second = recordingBench(dir.path(), another, name);
            QVERIFY(second->waitForFinished(10000));
            QCOMPARE(second->exitCode(), 2);
            const QString said = QString::fromUtf8(second->readAllStandardError());
            QVERIFY2(said.contains("cannot record into '" + name + "': another program is recording into it"),
                     qPrintable(said));
        }
        QString err;
        QCOMPARE(endRun(*first, &err), 0);
        const int rows = wholeRows(record);
        QVERIFY2(err.contains(QString("%1: %2 rows written\n").arg(record).arg(rows)), qPrintable(err));
    }

    // Killed outright and started again on the same file: the rows of the first run stay, a row
    // the kill cut short is gone, and the second run's rows follow.
    void killedAndStartedAgainKeepsTheRows() {
        QTemporaryDir dir;
        FedLine voltage(
            "KR31G", SimFunction::Volts, [](int) { return 12.0; }, 20);
        const QString record = dir.filePath("kept.csv");
        auto first = recordingBench(dir.path(), voltage, record);
        voltage.start();
        QTRY_VERIFY2_WITH_TIMEOUT(wholeRows(record) >= 20, qPrintable(tail(record)), 10000);
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(5000));
        {  // as if the kill had come in the middle of a row
            QFile file(record);
            QVERIFY(file.open(QIODevice::Append));
            file.write("2026-12-08T10:00:00.000+00:00,U,1");
        }
        QFile before(record);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray firstRun = before.readAll();
        const QByteArray wholeOfFirstRun = firstRun.left(firstRun.lastIndexOf('\n') + 1);
        const int firstRows = wholeOfFirstRun.count('\n') - 1;

        auto second = recordingBench(dir.path(), voltage, record);
        QTRY_VERIFY_WITH_TIMEOUT(wholeRows(record) >= firstRows + 20, 10000);
        QString err;
        QCOMPARE(endRun(*second, &err), 0);
        QVERIFY2(err.contains(" rows written after the rows already in it\n"), qPrintable(err));
        QFile after(record);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QVERIFY(after.readAll().startsWith(wholeOfFirstRun));
        QVERIFY(wholeRows(record) > firstRows);
    }

    // The disk full for a while: rows are held, never half written, and all written once it takes
    // them again, so the run ends well. Full to the end: the loss is counted and the run fails.
    void fullDiskHoldsCountsAndRecovers_data() {
        QTest::addColumn<bool>("freedAgain");
        QTest::newRow("freed again") << true;
        QTest::newRow("full to the end") << false;
    }
    void fullDiskHoldsCountsAndRecovers() {
        QFETCH(bool, freedAgain);
        QTemporaryDir dir;
        FedLine voltage(
            "KR31G", SimFunction::Volts, [](int) { return 12.0; }, 20);
        const QString record = dir.filePath("full.csv");
        const rlim_t limit = 3000;
        auto run = recordingBench(dir.path(), voltage, record, limit);
        voltage.start();
        // full: the file stops short of the limit with whole rows, while readings go on
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > qint64(limit) - 200, 10000);
        const int sentWhenFull = voltage.sent();
        QTRY_VERIFY_WITH_TIMEOUT(voltage.sent() > sentWhenFull + 30, 10000);
        QVERIFY(wholeRows(record) > 0);
        QVERIFY(QFileInfo(record).size() <= qint64(limit));
        if (freedAgain) {
            const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
            QCOMPARE(::prlimit(pid_t(run->processId()), RLIMIT_FSIZE, &unlimited, nullptr), 0);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > qint64(limit) + 1000, 10000);
        }
        QString err;
        const int code = endRun(*run, &err);
        const int rows = wholeRows(record);
        QVERIFY2(rows > 0, "a row is cut short");
        if (freedAgain) {
            QCOMPARE(code, 0);
            QVERIFY2(err.contains(QString("%1: %2 rows written\n").arg(record).arg(rows)), qPrintable(err));
        } else {
            QCOMPARE(code, 1);
            const QRegularExpressionMatch lost =
                QRegularExpression("cannot write '[^']+': .* \\((\\d+) rows lost\\)\n").match(err);
            QVERIFY2(lost.hasMatch(), qPrintable(err));
            QVERIFY(lost.captured(1).toInt() >= 30);
            QVERIFY2(err.contains(QString("%1: %2 rows written\n").arg(record).arg(rows)), qPrintable(err));
        }
    }
#endif
};

QTEST_MAIN(BenchMetersTest)
#include "tst_bench_meters.moc"
