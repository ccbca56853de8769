// The journal of unsaved rows: what it writes comes back exactly, a torn or damaged entry costs only
// that entry, it follows the table through New, Save and recovery, and a process killed while
// recording loses no row older than a second.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <limits>
#include <thread>

#include "../files/TableTestSupport.h"
#include "JournalReader.h"
#include "MeterState.h"
#include "RecordJournal.h"
#include "RecordStore.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Rows with awkward fields: numbering jumps and restarts, time running back past midnight,
// counts that are whole, fractional, negative zero, huge or not a number.
std::vector<RecordRow> awkwardRows() {
    std::vector<RecordRow> rows = sampleRows(20);
    const double nvals[] = {-0.0, 1e300, -9.3e18, std::numeric_limits<double>::quiet_NaN(), 0.1, 16777217};
    for (std::size_t i = 0; i < std::size(nvals); ++i) rows[i].nval = nvals[i];
    rows[7].no = 1;
    rows[8].no = 1000000;
    rows[9].timeMs = 86399999;
    rows[10].timeMs = 0;
    rows[11].value = std::string(300, '9');
    // dated rows around an undated one, the day running back, offsets as far east (+13:00 and
    // +14:00 in the Pacific) and west as local time goes
    for (int i : {12, 13, 15, 16}) rows[i].day = i == 16 ? 20000 : 20794;
    rows[12].utcOffsetMin = 780;
    rows[13].utcOffsetMin = 60;
    rows[15].utcOffsetMin = 840;
    rows[16].utcOffsetMin = -570;
    return rows;
}

bool sameRows(const std::vector<RecordRow>& a, const std::vector<RecordRow>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        RecordRow x = a[i], y = b[i];
        // NaN never equals itself; the same bits must come back
        if (std::isnan(x.nval) && std::isnan(y.nval)) x.nval = y.nval = 0;
        if (x != y || std::signbit(a[i].nval) != std::signbit(b[i].nval)) return false;
    }
    return true;
}

struct Rig {
    QTemporaryDir dir;
    std::string path = (dir.path() + "/Kr47bdb.journal").toStdString();
    RecordState state;
    RecordTable table;
    RecordStore store{state, table};
    RecordJournal journal;
    MeterState m;

    Rig() {
        table.openEmpty("Kr47bdb");
        RecordStore::applyStartValues(state);
        state.RepeatSet = false;
        store.setClock([] { return 1000; });
        m.UnitText = "V";
        m.AcDcText = "DC";
        m.AutoText = "AUTO";
        if (!journal.claim(path)) qFatal("no journal");
        store.setJournal(&journal);
    }
    void store_(int n) {
        for (int i = 0; i < n; ++i) {
            m.ValueText = std::to_string(i);
            m.NumericValue = static_cast<float>(i);
            store.INDataToTable(m);
        }
    }
    std::vector<std::string> journalValues() const {
        std::vector<std::string> out;
        for (const RecordRow& r : RecordJournal::read(path).rows) out.push_back(r.value);
        return out;
    }
};

}  // namespace

class RecordJournalTest : public QObject {
    Q_OBJECT

private slots:
    void rowsComeBackExactly();
    void tornOrDamagedEnd_data();
    void tornOrDamagedEnd();
    void followsNewSaveAndReplacedTable();
    void secondClaimIsRefused();
    void killedRecorderLosesAtMostTheLastSecond();
};

void RecordJournalTest::rowsComeBackExactly() {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/t.journal").toStdString();
    const auto rows = awkwardRows();
    RecordJournal journal;
    QVERIFY(journal.claim(path));
    // synced in uneven batches, as ticks find them
    std::vector<RecordRow> growing;
    for (std::size_t step : {1, 5, 0, 14}) {
        growing.insert(growing.end(), rows.begin() + long(growing.size()),
                       rows.begin() + long(growing.size() + step));
        QVERIFY(journal.sync(VectorSource(growing)));
    }
    const RecordJournal::Contents c = RecordJournal::read(path);
    QVERIFY(c.exists && !c.torn);
    QVERIFY(sameRows(c.rows, rows));
    QCOMPARE(c.goodBytes, uint64_t(fileBytes(path).size()));
    // read as asked for: through to the last row, then again from the first
    const JournalRows streamed(path, c.rowCount);
    QVERIFY(sameRows({streamed.row(19), streamed.row(0)}, {rows[19], rows[0]}));

    // a run of ordinary readings costs a few bytes a row
    std::vector<RecordRow> run;
    for (int i = 0; i < 1000; ++i)
        run.push_back(
            {i + 1, 36000000 + 50 * i, "DC", std::to_string(i % 4000), "V", "AUTO", double(i % 4000)});
    QVERIFY(RecordJournal::encodeEntry(run).size() < 12 * run.size());
    QCOMPARE(RecordJournal::pathFor("Kr47bdb"), std::string("Kr47bdb.journal"));
    QCOMPARE(RecordJournal::pathFor("data/Kr47bdb.DB"), std::string("data/Kr47bdb.journal"));
    QCOMPARE(RecordJournal::pathFor("a.b/Kr47bdb"), std::string("a.b/Kr47bdb.journal"));
}

void RecordJournalTest::tornOrDamagedEnd_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("rowsKept");  // of the 12 rows in entries of 3, 4 and 5
    QTest::addColumn<int>("skipped");
    QTest::newRow("cut inside the last entry, every length") << "cut" << 7 << 0;
    QTest::newRow("payload byte of the last entry flipped") << "flip" << 7 << 0;
    QTest::newRow("zeros after the entries") << "zeros" << 7 << 0;
    QTest::newRow("length beyond any entry before the last") << "huge" << 12 << 1;
    QTest::newRow("payload byte of the middle entry flipped") << "flip middle" << 8 << 1;
    QTest::newRow("junk between the entries, every length") << "junk" << 12 << 1;
}

// Damage costs the entries it hits: reading goes on at the next entry that checks out.
void RecordJournalTest::tornOrDamagedEnd() {
    QFETCH(QString, damage);
    QFETCH(int, rowsKept);
    QFETCH(int, skipped);
    const auto rows = sampleRows(12);
    const std::string a = RecordJournal::encodeEntry({rows.begin(), rows.begin() + 3});
    const std::string b = RecordJournal::encodeEntry({rows.begin() + 3, rows.begin() + 7});
    const std::string c = RecordJournal::encodeEntry({rows.begin() + 7, rows.end()});
    std::vector<RecordRow> kept(rows.begin(), rows.begin() + 3);
    if (damage != "flip middle") kept.insert(kept.end(), rows.begin() + 3, rows.begin() + 7);
    if (rowsKept > 7) kept.insert(kept.end(), rows.begin() + 7, rows.end());
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/t.journal").toStdString();

    std::vector<std::string> files;
    for (std::size_t n = 1; n < c.size(); ++n) {
        std::string bad = damage.startsWith("flip") ? (damage == "flip" ? c : b) : std::string();
        if (n >= 8 && n < bad.size()) bad[n] = char(bad[n] ^ 0x20);
        if (damage == "cut") files.push_back(a + b + c.substr(0, n));
        if (damage == "flip" && n >= 8) files.push_back(a + b + bad);
        if (damage == "flip middle" && n >= 8 && n < b.size()) files.push_back(a + bad + c);
        if (damage == "junk") files.push_back(a + b + c.substr(0, n) + c);
    }
    if (damage == "zeros") files.push_back(a + b + std::string(4096, '\0'));
    if (damage == "huge") files.push_back(a + std::string("\xff\xff\xff\x7f\0\0\0\0", 8) + b + c);
    for (const std::string& bytes : files) {
        writeBytes(path, bytes);
        const RecordJournal::Contents got = RecordJournal::read(path);
        QCOMPARE(got.torn, rowsKept == 7);
        QVERIFY(got.error.empty());
        QCOMPARE(got.skipped, int64_t(skipped));
        QCOMPARE(got.goodBytes, uint64_t(rowsKept == 7 ? a.size() + b.size() : bytes.size()));
        QVERIFY(sameRows(got.rows, kept));
    }

    // a journal resumed after the damage writes on where the good entries stop, and keeps them
    RecordJournal journal;
    const Result<RecordJournal::Contents> left = journal.claim(path);
    QVERIFY(left);
    QVERIFY(journal.resume(left->goodBytes, 0, left->rowCount));
    std::vector<RecordRow> more = kept;
    more.insert(more.end(), rows.begin(), rows.begin() + 2);
    QVERIFY(journal.sync(VectorSource(more)));
    const RecordJournal::Contents after = RecordJournal::read(path);
    QVERIFY(!after.torn);
    QVERIFY(sameRows(after.rows, more));
}

void RecordJournalTest::followsNewSaveAndReplacedTable() {
    Rig rig;
    rig.store_(3);
    QVERIFY(RecordJournal::read(rig.path).rows.empty());  // nothing until the tick
    QVERIFY(rig.store.syncJournal());
    QCOMPARE(rig.journalValues(), (std::vector<std::string>{"0", "1", "2"}));
    QVERIFY(rig.store.syncJournal());  // nothing new: nothing written
    QCOMPARE(rig.journalValues().size(), std::size_t(3));

    // saved: the journal keeps only what comes after
    rig.store.markSaved();
    QCOMPARE(fileBytes(rig.path).size(), std::size_t(0));
    rig.store_(2);
    QVERIFY(rig.store.syncJournal());
    QCOMPARE(rig.journalValues(), (std::vector<std::string>{"0", "1"}));
    QCOMPARE(RecordJournal::read(rig.path).rows.front().no, 4);

    // New empties it
    rig.store.RecordNewClick();
    QCOMPARE(fileBytes(rig.path).size(), std::size_t(0));
    rig.store_(1);
    QVERIFY(rig.store.syncJournal());
    QCOMPARE(RecordJournal::read(rig.path).rows.front().no, 1);

    // a table emptied behind the journal's back is followed from its new end
    rig.table.empty();
    QVERIFY(rig.store.syncJournal());
    QCOMPARE(fileBytes(rig.path).size(), std::size_t(0));

    // a normal end removes the file; an abnormal one (no remove) leaves it
    rig.journal.remove();
    QVERIFY(!QFile::exists(QString::fromStdString(rig.path)));
    {
        RecordJournal j;
        QVERIFY(j.claim(rig.path));
        QVERIFY(j.sync(VectorSource(sampleRows(2))));
    }
    QCOMPARE(RecordJournal::read(rig.path).rows.size(), std::size_t(2));
}

void RecordJournalTest::secondClaimIsRefused() {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/t.journal").toStdString();
    RecordJournal first, second;
    QVERIFY(first.claim(path));
    const Result<RecordJournal::Contents> refused = second.claim(path);
    QVERIFY(!refused);
    QVERIFY2(refused.error().find("in use") != std::string::npos, refused.error().c_str());
    QVERIFY(second.sync(VectorSource(sampleRows(1))));  // unclaimed: writes nothing, fails nothing
    QVERIFY(fileBytes(path).empty());
    const Result<RecordJournal::Contents> readOnly =
        RecordJournal().claim(dir.path().toStdString() + "/missing/t.journal");
    QVERIFY(!readOnly);
    QVERIFY(!readOnly.error().empty());
}

// A child records a reading every few milliseconds and syncs on a one-second tick, as the window
// does; it reports each stored row through a pipe. Killed mid-second, every row it reported more
// than a second before the kill is in the journal, and what is there is exactly what was stored.
void RecordJournalTest::killedRecorderLosesAtMostTheLastSecond() {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/Kr47bdb.journal").toStdString();
    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(fds[0]);
        RecordState state;
        RecordTable table;
        RecordStore store(state, table);
        RecordJournal journal;
        table.openEmpty("Kr47bdb");
        RecordStore::applyStartValues(state);
        state.RepeatSet = false;
        if (!journal.claim(path)) ::_exit(3);
        store.setJournal(&journal);
        MeterState m;
        m.UnitText = "V";
        auto nextTick = Clock::now() + std::chrono::seconds(1);
        for (int32_t i = 0;; ++i) {
            m.ValueText = std::to_string(i);
            m.NumericValue = static_cast<float>(i);
            store.INDataToTable(m);
            if (::write(fds[1], &i, sizeof i) != sizeof i) ::_exit(4);
            if (Clock::now() >= nextTick) {
                store.TrecordTimer();
                if (!store.syncJournal()) ::_exit(5);
                nextTick += std::chrono::seconds(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::vector<Clock::time_point> reported;
    const auto started = Clock::now();
    const auto collect = [&] {
        int32_t i = 0;
        while (::read(fds[0], &i, sizeof i) == sizeof i) {
            if (i != int32_t(reported.size())) qFatal("rows reported out of order");
            reported.push_back(Clock::now());
        }
    };
    while (Clock::now() - started < std::chrono::milliseconds(2500)) {
        collect();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    QVERIFY(::kill(child, SIGKILL) == 0);
    const auto killedAt = Clock::now();
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    collect();
    ::close(fds[0]);

    const RecordJournal::Contents c = RecordJournal::read(path);
    QVERIFY(c.error.empty());
    std::size_t older = 0;
    while (older < reported.size() && killedAt - reported[older] > std::chrono::seconds(1)) ++older;
    QVERIFY2(older > 100, qPrintable(QString::number(older)));
    QVERIFY2(c.rows.size() >= older,
             qPrintable(
                 QStringLiteral("%1 rows journaled, %2 older than a second").arg(c.rows.size()).arg(older)));
    QVERIFY(c.rows.size() <= reported.size());
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        QCOMPARE(c.rows[i].value, std::to_string(i));
        QCOMPARE(c.rows[i].no, int32_t(i + 1));
    }
    qInfo("killed after %zu rows: %zu journaled, %zu of them older than a second", reported.size(),
          c.rows.size(), older);
}

QTEST_GUILESS_MAIN(RecordJournalTest)
#include "tst_record_journal.moc"
