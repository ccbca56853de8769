// The headless logger: --decode with --record FILE stores the readings under the store's rules,
// timed as the line sent them for a capture, and writes FILE as Save writes it.
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "../files/TableRows.h"
#include "../serial/PseudoTerminal.h"
#include "AppOptions.h"
#include "HeadlessRecorder.h"
#include "HeadlessRunner.h"
#include "HeadlessTestSupport.h"
#include "MeterState.h"
#include "ParadoxTable.h"
#include "RecordFiles.h"
#include "RecordJournal.h"
#include "RecoverRunner.h"
#include "ReportRunner.h"
#include "TableLock.h"

namespace {

// A folder where writing runs out of room: a small tmpfs where the test may mount one; otherwise a
// limit on the size of the files this process writes, which fails writes as a full disk does (the
// system then says "File too large").
struct NoRoom {
    explicit NoRoom(const std::string& at) : folder(at) {
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") == 0) return;
        mounted = false;
        reason = std::strerror(EFBIG);
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &before);
        const rlimit small{16 * 1024, before.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~NoRoom() {
        mounted ? (void)::umount2(folder.c_str(), MNT_DETACH) : (void)::setrlimit(RLIMIT_FSIZE, &before);
    }
    std::string folder;
    bool mounted = true;
    std::string reason = std::strerror(ENOSPC);
    rlimit before{};
};

// 1.234 V DC AUTO and -3999 V DC MANU, taking turns: every frame is a new reading.
std::string alternatingFrames(int count) {
    const std::string a = segmentBytes("705DB1F2700040");
    const std::string b = segmentBytes("49F3F3F3F00040");
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += i % 2 ? b : a;
    return bytes;
}

}  // namespace

class RecordCli : public QObject {
    Q_OBJECT

private slots:
    void options_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("record without decode")
            << QStringList{"--record", "x.db"} << "--record needs --decode";
        QTest::newRow("rule without record")
            << QStringList{"--decode", "-", "--no-repeat"} << "needs --record";
        QTest::newRow("negative interval")
            << QStringList{"--decode", "-", "--record", "x", "--interval", "-1"} << "--interval needs";
        QTest::newRow("interval word")
            << QStringList{"--decode", "-", "--record", "x", "--interval", "ten"} << "--interval needs";
        QTest::newRow("limit zero") << QStringList{"--decode", "-", "--record", "x", "--limit", "0"}
                                    << "--limit needs";
        QTest::newRow("limit too big")
            << QStringList{"--decode", "-", "--record", "x", "--limit", "10000001"} << "--limit needs";
        QTest::newRow("same file as the bytes")
            << QStringList{"--decode", "-", "--record", "x", "--save-bytes", "x"} << "name the same file";
        QTest::newRow("start without record")
            << QStringList{"--decode", "-", "--start", "2026-12-07T23:59:50"} << "--start needs --record";
        QTest::newRow("start on no such day")
            << QStringList{"--decode", "-", "--record", "x", "--start", "2026-02-29T12:00:00"}
            << "--start: 2026-02-29T12:00:00: there is no such day";
        QTest::newRow("good") << QStringList{"--decode",  "-",          "--record", "x",          "--limit",
                                             "limitless", "--interval", "5",        "--no-repeat"}
                              << "";
    }
    void options() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        std::vector<std::string> words;
        for (const QString& a : args) words.push_back(a.toStdString());
        const OptionsResult r = parseOptions(words);
        QVERIFY2(QString::fromStdString(r.error).contains(error), r.error.c_str());
        if (!error.isEmpty()) return;
        QCOMPARE(r.options.recordLimit, 10000000);
        QCOMPARE(*r.options.recordInterval, 5);
        QVERIFY(!r.options.recordRepeat);
    }

    // A capture becomes a table with the readings' fields, the rows timed by the line: 14 bytes at
    // 2400 baud take 58.3 ms. Repeat (on by default) drops the steady reading at the end.
    void captureToTable() {
        QTemporaryDir dir;
        const QString table = dir.filePath("run.db");
        const std::string steady(segmentBytes("705DB1F2700040"));
        const Run r = decode({"--decode", "-", "--record", table.toStdString()},
                             alternatingFrames(4) + steady + steady + steady);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.find("run.db: 5 rows written") != std::string::npos, r.err.c_str());
        const std::vector<RecordRow> rows = readTable(table);
        QCOMPARE(rows.size(), size_t(5));
        QCOMPARE(rows[0].no, 1);
        QCOMPARE(rows[0].value, std::string("1.234"));
        QCOMPARE(rows[0].nval, 1234.0);
        QCOMPARE(rows[0].unit, std::string("V"));
        QCOMPARE(rows[0].dcAc, std::string("DC"));
        QCOMPARE(rows[0].autoText, std::string("AUTO"));
        QCOMPARE(rows[1].value, std::string("-3999"));
        QCOMPARE(rows[1].autoText, std::string("MANU"));
        QCOMPARE(rows[4].no, 5);
        QVERIFY(!QFile::exists(table + ".journal"));  // the rows are on file: the journal is gone
        for (size_t i = 1; i < rows.size(); ++i) {
            const int step = (rows[i].timeMs - rows[i - 1].timeMs + 86400000) % 86400000;
            QVERIFY2(step == 58 || step == 59, qPrintable(QString::number(step)));
        }

        // --no-repeat stores the steady reading each time; a text name gets the text
        const QString text = dir.filePath("run.txt");
        QCOMPARE(decode({"--decode", "-", "--record", text.toStdString(), "--no-repeat"},
                        alternatingFrames(4) + steady + steady)
                     .code,
                 0);
        QFile f(text);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + 6 + 1);
        QVERIFY(lines[0].startsWith("No\tTime"));
        QVERIFY(lines[6].startsWith("6\t"));

        // --limit stops storing, and the line before the closing counts says what it turned away
        const Run limited =
            decode({"--decode", "-", "--record", table.toStdString(), "--limit", "3"}, alternatingFrames(10));
        QCOMPARE(limited.code, 0);
        QCOMPARE(readTable(table).size(), size_t(3));
        QVERIFY2(QString::fromStdString(limited.err)
                     .endsWith("record limit of 3 rows reached: 7 later readings were not recorded\n"
                               "10 readings decoded, 0 frames dropped as damaged, 0 bytes skipped\n"),
                 limited.err.c_str());
    }

    // A capture timed across midnight into CSV (a .csv name in any case): the date turns over
    // once, the date and time only ever grow, and each line holds the reading's columns.
    void captureAcrossMidnightAsCsv() {
        QTemporaryDir dir;
        const QString csv = dir.filePath("night.CSV");
        // 345 frames of 14 bytes at 2400 baud: 20.1 s of line time
        const Run r = decode(
            {"--decode", "-", "--record", csv.toStdString(), "--no-repeat", "--start", "2026-12-07T23:59:50"},
            alternatingFrames(345));
        QCOMPARE(r.code, 0);
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.takeFirst(),
                 QByteArray("No,Date and time,Value,Unit,AC/DC,AUTO/MANU,Number,Counts\r"));
        QCOMPARE(lines.size(), 345);
        QVERIFY2(lines[0].startsWith("1,2026-12-07T23:59:50.058"), lines[0].constData());
        QVERIFY2(lines[0].endsWith(",1.234,V,DC,AUTO,1.234,1234\r"), lines[0].constData());
        QVERIFY2(lines[1].endsWith(",-3999,V,DC,MANU,-3999,-3999\r"), lines[1].constData());
        int turns = 0;
        QByteArray before;
        for (const QByteArray& line : lines) {
            const QByteArray when = line.split(',').value(1);
            QVERIFY2(when > before, when.constData());
            if (!before.isEmpty() && when.left(10) != before.left(10)) ++turns;
            before = when;
        }
        QCOMPARE(turns, 1);
        QVERIFY2(before.startsWith("2026-12-08T00:00:10."), before.constData());
    }

    // In a zone with summer time: a time the clocks skip is refused, one they pass twice is taken
    // at its first occurrence with a note, and no row is dated past 9999 (a capture's length
    // counts). Each says so in its first line.
    void startTimes_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("firstRow");  // empty: refused
        QTest::newRow("skipped in spring")
            << "2026-03-29T02:30:00" << 1 << "--start: 2026-03-29T02:30:00 does not exist in local time"
            << "";
        QTest::newRow("twice in autumn")
            << "2026-10-25T02:30:00" << 1
            << "--start: 2026-10-25T02:30:00 occurs twice in local time; the first (UTC+02:00) is taken"
            << "1,2026-10-25T02:30:00.058+02:00";
        QTest::newRow("a capture running past 9999")
            << "9999-12-31T23:59:50" << 200 << "takes 12 s of line time, so its rows would be dated past"
            << "";
        QTest::newRow("ending within 9999") << "9999-12-31T23:59:40" << 200 << ""
                                            << "1,9999-12-31T23:59:40.058+01:00";
        // a stream of unknown length (frames < 0: standard input) stops recording at the end of 9999
        QTest::newRow("a stream running past 9999")
            << "9999-12-31T23:59:55" << -200
            << "readings after 9999-12-31T23:59:59 (from --start) not recorded"
            << "1,9999-12-31T23:59:55.058+01:00";
    }
    void startTimes() {
        QFETCH(QString, start);
        QFETCH(int, frames);
        QFETCH(QString, says);
        QFETCH(QString, firstRow);
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
        QTemporaryDir dir;
        const std::string capture = dir.filePath("capture.bin").toStdString();
        std::ofstream(capture) << alternatingFrames(std::max(frames, 0));
        QFile csv(dir.filePath("run.csv"));
        const Run r = decode({"--decode", frames < 0 ? "-" : capture, "--record",
                              csv.fileName().toStdString(), "--start", start.toStdString()},
                             alternatingFrames(std::max(-frames, 0)));
        zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
        ::tzset();
        QCOMPARE(r.code, firstRow.isEmpty() ? 2 : 0);
        QVERIFY2(QString::fromStdString(r.err)
                     .section('\n', frames < 0 ? 1 : 0, frames < 0 ? 1 : 0)
                     .contains(says),
                 r.err.c_str());
        QCOMPARE(csv.open(QIODevice::ReadOnly), !firstRow.isEmpty());
        if (!firstRow.isEmpty())
            QVERIFY2(csv.readAll().split('\n').value(1).startsWith(firstRow.toLatin1()), r.err.c_str());
    }

    // A record name as long as the folder allows: the journal takes a shorter name beside it,
    // which --recover finds from the record name. A control character in a name is printed
    // escaped, so each message stays one line.
    void longAndOddRecordNames() {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString() + "/";
        const std::string capture = folder + "capture.bin";
        std::ofstream(capture) << alternatingFrames(4);
        const std::string name = folder + std::string(251, 'n') + ".csv";  // 255 bytes, the limit
        const std::string journal = HeadlessRecorder::journalPathFor(name);
        QVERIFY(journal.size() - folder.size() <= 255 &&
                journal.find('/', folder.size()) == std::string::npos);
        QCOMPARE(HeadlessRecorder::journalPathFor(folder + "short.csv"), folder + "short.csv.journal");
        const Run r = decode({"--decode", capture, "--record", name}, "");
        QVERIFY2(r.code == 0 && QFileInfo::exists(QString::fromStdString(name)), r.err.c_str());

        std::ofstream(journal) << RecordJournal::encodeEntry(
            {RecordRow{1, 0, "DC", "1.234", "V", "AUTO", 1234}});
        std::ostringstream out, err;
        QCOMPARE(runRecover(parseOptions({"--recover", name, folder + "back.txt"}).options, out, err),
                 ExitCode::Success);
        QCOMPARE(out.str(), folder + "back.txt: 1 row\n");

        const Run odd = decode({"--decode", capture, "--record", folder + "no\nsuch/\trun.db"}, "");
        QCOMPARE(odd.err,
                 "cannot record into '" + folder + "no\\nsuch/\\trun.db': its folder does not exist\n");
    }

    // 100 s of line time (23,996 bytes at 2400 baud) with --interval 10: a row every ten seconds
    // (the timer ticks on whole seconds of the run, so a step is ten seconds give or take a frame).
    void intervalRunsOnLineTime() {
        QTemporaryDir dir;
        const QString table = dir.filePath("interval.db");
        const Run r = decode({"--decode", "-", "--record", table.toStdString(), "--interval", "10"},
                             alternatingFrames(1714));
        QCOMPARE(r.code, 0);
        const std::vector<RecordRow> rows = readTable(table);
        QCOMPARE(rows.size(), size_t(10));
        for (size_t i = 1; i < rows.size(); ++i) {
            const int step = (rows[i].timeMs - rows[i - 1].timeMs + 86400000) % 86400000;
            QVERIFY2(step > 9900 && step < 10100, qPrintable(QString::number(step)));
        }
    }

    // Every file the program opens by name, under names that are no plain file or no text: nothing
    // waits on a pipe, nothing but a regular file is written or replaced, a link meets the lock of
    // the file it names, a Latin-1 name is written as given, and a full disk gives its reason.
    void oddPaths_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("use");
        QTest::addColumn<QString>("says");  // in the message; empty: the operation works
        for (const char* use :
             {"record", "journal", "save-bytes", "recover-from", "report", "start", "open", "save"})
            QTest::addRow("pipe %s", use) << "fifo" << use << "it is a named pipe";
        for (const char* use : {"record", "recover", "save"})
            QTest::addRow("device %s", use) << "device" << use << "it is a device";
        QTest::newRow("socket record") << "socket"
                                       << "record"
                                       << "it is a socket";
        QTest::newRow("link to a file being recorded") << "link"
                                                       << "record"
                                                       << "in use by another program";
        QTest::newRow("latin-1 record") << "latin1"
                                        << "record"
                                        << "";
        QTest::newRow("latin-1 report") << "latin1"
                                        << "report"
                                        << "";
        QTest::newRow("full disk record") << "full"
                                          << "record"
                                          << "";
        QTest::newRow("full disk save") << "full"
                                        << "save"
                                        << "";
    }
    void oddPaths() {
        QFETCH(QString, kind);
        QFETCH(QString, use);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString() + "/";
        const std::string capture = folder + "capture.bin";
        std::ofstream(capture) << alternatingFrames(2000);
        std::string odd = folder + (use == "journal"   ? "run.db.journal"
                                    : kind == "latin1" ? "caf\xe9.db"
                                                       : "odd.db");
        std::unique_ptr<PseudoTerminal> pty;
        RecordJournal other;
        std::unique_ptr<NoRoom> noRoom;
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(odd.c_str(), 0644), 0);
        } else if (kind == "device") {
            pty = std::make_unique<PseudoTerminal>();
            odd = pty->slavePath;
        } else if (kind == "socket") {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, odd.c_str(), sizeof address.sun_path - 1);
            const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QCOMPARE(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(s);
        } else if (kind == "link") {
            // another run records into same.db, not written yet
            QCOMPARE(::symlink("same.db", odd.c_str()), 0);
            QVERIFY(other.claim(HeadlessRecorder::journalPathFor(folder + "same.db")));
        } else if (kind == "full") {
            QCOMPARE(::mkdir((folder + "full").c_str(), 0755), 0);
            noRoom = std::make_unique<NoRoom>(folder + "full");
            odd = folder + "full/run.txt";
        }

        Run r{0, "", ""};
        auto fileResult = [&r](const FileResult& f) {
            r = {f.ok() ? 0 : 1, "", PlainFile::toNative(f.error).toStdString()};
        };
        RecordState state;
        RecordTable table;
        RecordStore store(state, table);
        RecordFiles files(store, table);
        QVERIFY(files.openAtStart("Kr47bdb", dir.filePath("Kr47bdb.DB")).ok());
        store.fillForTest(2000);
        const std::string journal = folder + "good.journal";
        std::ofstream(journal) << RecordJournal::encodeEntry({table.row(0)});
        if (use == "record" || (use == "report" && kind == "latin1"))
            r = decode({"--decode", capture, "--record", odd}, "");
        if (use == "journal") r = decode({"--decode", capture, "--record", folder + "run.db"}, "");
        if (use == "save-bytes") r = decode({"--decode", capture, "--save-bytes", odd}, "");
        std::ostringstream out;
        std::ostringstream err;
        if (use == "recover" || use == "recover-from") {
            const bool into = use == "recover";
            r.code = exitStatus(runRecover(
                parseOptions({"--recover", into ? journal : odd, into ? odd : folder + "out.txt"}).options,
                out, err));
            r.err = err.str();
        }
        if (use == "report") {
            const LoadedTable rows = defaultTableLoader()(odd);
            r = {rows && rows.value()->rowCount() == 2000 ? 0 : 1, "", rows.error()};
        }
        if (use == "start")
            fileResult(RecordFiles(store, table).openAtStart("Kr47bdb", PlainFile::fromNative(odd)));
        if (use == "open") fileResult(files.open(PlainFile::fromNative(odd)));
        if (use == "save") fileResult(files.save(PlainFile::fromNative(odd)));

        if (kind == "full") {
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.find(": " + noRoom->reason) != std::string::npos, r.err.c_str());
            // exactly the rows the journal holds
            const size_t kept = RecordJournal::read(odd + ".journal").rows.size();
            const std::string line = kept == 2000 ? "all 2000"
                                     : kept == 0  ? "none of the 2000"
                                                  : std::to_string(kept) + " of the 2000";
            QVERIFY2(use != "record" || r.err.find(line + " recorded rows") != std::string::npos,
                     r.err.c_str());
        } else if (says.isEmpty()) {
            QVERIFY2(r.code == 0, r.err.c_str());
            QVERIFY(::access(odd.c_str(), F_OK) == 0);  // under exactly the name given
            if (use == "record")
                QVERIFY2(r.err.find(odd + ": 2000 rows written") != std::string::npos, r.err.c_str());
        } else {
            QVERIFY(r.code != 0);
            QVERIFY2(r.err.find(says.toStdString()) != std::string::npos, r.err.c_str());
        }
        // the odd file is what it was
        struct stat st {};
        if (kind == "fifo" || kind == "device" || kind == "socket")
            QVERIFY(::stat(odd.c_str(), &st) == 0 && !S_ISREG(st.st_mode));
        if (kind == "latin1") ::unlink(odd.c_str());  // a name the temporary folder cannot remove
    }

    void badTargetsAreRefusedBeforeTheRun() {
        QTemporaryDir dir;
        const std::string capture = dir.filePath("capture.bin").toStdString();
        std::ofstream(capture) << alternatingFrames(2);
        const std::string held = dir.filePath("held.db").toStdString();
        std::ofstream(held) << "x";
        TableLock lock;
        QVERIFY(lock.lock(QString::fromStdString(held)));
        for (const std::string& target :
             {dir.path().toStdString(), dir.filePath("no/such/run.db").toStdString(), capture, held}) {
            const Run r = decode({"--decode", capture, "--record", target}, "");
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.find("cannot record into") != std::string::npos, r.err.c_str());
            QVERIFY(r.out.empty());
        }
    }

    // A device runs until interrupted, or with --once until lost; the rows recorded so far are
    // written then, also when the run is interrupted while it waits for a lost device. A file that
    // cannot be written at the end leaves its rows in the journal for --recover.
    void deviceInterruptedWritesTheRows_data() {
        QTest::addColumn<QString>("ending");
        QTest::newRow("interrupted") << "interrupt";
        QTest::newRow("interrupted, the file's name taken by a folder") << "folder";
        QTest::newRow("the device vanishes, --once") << "vanish";
        QTest::newRow("interrupted while the device is waited for") << "wait";
    }
    void deviceInterruptedWritesTheRows() {
        QFETCH(QString, ending);
        QTemporaryDir dir;
        const QString table = dir.filePath("live.db");
        PseudoTerminal line;
        QVERIFY(!line.slavePath.empty());
        // waited for under a name of its own, as a by-id link is; a bare pseudo-terminal is not
        const QString link = dir.filePath("ttyMeter");
        QVERIFY(QFile::link(QString::fromStdString(line.slavePath), link));
        std::vector<std::string> args = {"--decode", link.toStdString(), "--record", table.toStdString()};
        if (ending == "vanish") args.push_back("--once");
        const OptionsResult o = parseOptions(args);
        QVERIFY(o.error.empty());
        std::signal(SIGINT, SIG_IGN);
        std::istringstream in;
        std::ostringstream out;
        std::ostringstream err;
        std::atomic<int> code{-1};
        std::thread run([&] { code = exitStatus(runHeadless(o.options, in, out, err)); });
        QTest::qWait(300);
        const std::string frames = alternatingFrames(3);
        QCOMPARE(::write(line.master, frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
        QTest::qWait(400);
        if (ending == "folder") QVERIFY(QDir(dir.path()).mkdir("live.db"));
        if (ending == "vanish" || ending == "wait") line.closeMaster();
        if (ending == "wait") QTest::qWait(300);
        while (code == -1) {
            if (ending != "vanish") std::raise(SIGINT);
            QTest::qWait(20);
        }
        run.join();
        std::signal(SIGINT, SIG_DFL);
        QCOMPARE(code.load(), ending == "interrupt" || ending == "wait" ? 0 : 1);
        if (ending == "wait")
            QVERIFY2(err.str().find("waiting for it to come back") != std::string::npos, err.str().c_str());
        const std::string name = table.toStdString();
        if (ending == "folder") {  // every row back from the journal
            QCOMPARE(
                runRecover(parseOptions({"--recover", name + ".journal", name + ".txt"}).options, out, err),
                ExitCode::Success);
            QVERIFY2(out.str().find(".txt: 3 rows") != std::string::npos, out.str().c_str());
            return;
        }
        const std::vector<RecordRow> rows = readTable(table);
        QCOMPARE(rows.size(), size_t(3));
        QCOMPARE(rows[2].value, std::string("1.234"));
        // the real time of day
        const QTime now = QTime::currentTime();
        QVERIFY(std::abs(now.msecsSinceStartOfDay() - rows[2].timeMs) < 5000);
        QVERIFY(!QFile::exists(table + ".journal"));
    }

    // The journal is written on the run's real time, twice a second: not once per chunk of a fast
    // capture, and again after a pause longer than that.
    void journalIsWrittenTwiceASecond() {
        QTemporaryDir dir;
        const OptionsResult o =
            parseOptions({"--decode", "-", "--record", dir.filePath("t.db").toStdString(), "--no-repeat"});
        std::ostringstream notes;
        MeterState reading;
        HeadlessRecorder line(o.options), device(o.options);
        QVERIFY(line.startJournal(notes, nullptr));
        line.useLineClock(2400, 0);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 300000; ++i) {
            reading.ValueText = std::to_string(i / 14);
            line.offer(reading);
            line.byteArrives();
        }
        QVERIFY2(line.journalSyncs() <= clock.elapsed() / 500 + 1,
                 qPrintable(QString::number(line.journalSyncs())));

        // 3 s of readings every 10 ms, 10 s of silence, 3 s more: six syncs in each stretch
        QVERIFY(QFile::remove(dir.filePath("t.db.journal")) && device.startJournal(notes, nullptr));
        const auto t0 = std::chrono::steady_clock::now();
        for (int at = 0; at < 16000; at += at == 3000 ? 10000 : 10) {
            device.offer(reading);
            device.realTimePassed(t0 + std::chrono::milliseconds(at));
            if (at == 3000 || at == 15990)
                QVERIFY2(device.journalSyncs() == (at == 3000 ? 6 : 12),
                         qPrintable(QString::number(device.journalSyncs())));
        }
    }

    // A journal left by a run that ended abnormally is not written over: one with rows (even after
    // a damaged entry) stops the next run, one with only damage is kept aside.
    void earlierJournalIsKept() {
        QTemporaryDir dir;
        const std::string table = dir.filePath("t.db").toStdString(), journal = table + ".journal";
        const std::string rows = RecordJournal::encodeEntry({RecordRow{1, 0, "DC", "1", "V", "AUTO", 1}});
        for (const std::string& left : {std::string(12, '\x7f') + rows, rows.substr(1)}) {
            std::ofstream(journal, std::ios::binary) << left;
            const Run r = decode({"--decode", "-", "--record", table}, alternatingFrames(2));
            QVERIFY2(
                r.err.find(left.size() > rows.size() ? "holds 1 rows" : "kept as " + journal + ".damaged") !=
                    std::string::npos,
                r.err.c_str());
        }
        QCOMPARE(QFileInfo(QString::fromStdString(journal + ".damaged")).size(), qint64(rows.size() - 1));
    }
};

QTEST_GUILESS_MAIN(RecordCli)
#include "tst_record_cli.moc"
