// Open and Save of the record table: the table file held for exclusive use, round trips through
// both formats, a failed open that keeps the table, numbering on after an open, and saves that
// run while readings keep arriving.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "MeterState.h"
#include "ParadoxTable.h"
#include "RecordFiles.h"
#include "RecordJournal.h"
#include "RecordStore.h"
#include "TableLock.h"
#include "TableRows.h"
#include "TableTestSupport.h"

namespace {

struct Rig {
    RecordState state;
    RecordTable table;
    RecordStore store{state, table};
    RecordFiles files{store, table};
    MeterState m;
    int32_t now = 3600000;

    Rig() {
        RecordStore::applyStartValues(state);
        state.RepeatSet = false;
        state.MaxRecords = kRecordLimitItems.back().limit;
        store.setClock([this] { return now; });
    }
    // Stores readings with every field set, the time moving on by 1.5 s each.
    void record(int count) {
        static const char* const values[] = {"-1.234", "0.L", "399.9", "-.045"};
        static const char* const units[] = {"mV", "k*", "#", "unkm%MF*AVHz"};
        for (int i = 0; i < count; ++i) {
            m.ValueText = values[i % 4];
            m.NumericValue = float(i % 4 == 1 ? 4000 : -1234 + i);
            m.UnitText = units[i % 4];
            m.AcDcText = i % 3 == 0 ? "AC" : i % 3 == 1 ? "DC" : "";
            m.AutoText = i % 2 ? "MANU" : "AUTO";
            now += 1500;
            QVERIFY(store.INDataToTable(m));
        }
    }
    std::vector<RecordRow> rows() const {
        std::vector<RecordRow> out;
        for (int64_t i = 0; i < table.rowCount(); ++i) out.push_back(table.row(i));
        return out;
    }
};

}  // namespace

class TestRecordFiles : public QObject {
    Q_OBJECT

private slots:
    void startTableIsCreatedAndHeldExclusively();
    void roundTripKeepsAllSevenFields();
    void failedOpenKeepsTheTable_data();
    void failedOpenKeepsTheTable();
    void openedRowsAreNumberedOn();
    void savingOntoTheOpenTableKeepsItLocked();
    void readingsDuringASaveStayUnsaved();
};

void TestRecordFiles::startTableIsCreatedAndHeldExclusively() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Kr47bdb.DB");
    Rig first;
    const FileResult r = first.files.openAtStart("Kr47bdb", path);
    QVERIFY2(r.ok(), qPrintable(r.error));
    QVERIFY(QFile::exists(path));
    QVERIFY(first.table.isOpen());
    QCOMPARE(first.table.name(), std::string("Kr47bdb"));
    QCOMPARE(first.table.rowCount(), int64_t(0));
    QCOMPARE(readTable(path).size(), size_t(0));  // an empty table with the record layout

    // a second program in the same folder is refused and records nothing
    Rig second;
    const FileResult refused = second.files.openAtStart("Kr47bdb", path);
    QCOMPARE(refused.status, FileResult::Failed);
    QVERIFY2(refused.error.contains("in use"), qPrintable(refused.error));
    QVERIFY(!second.table.isOpen());
    second.m.ValueText = "1.000";
    QVERIFY(!second.store.INDataToTable(second.m));

    // a file of another format is not taken over
    const QString text = dir.filePath("other.DB");
    QFile f(text);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("No\tTime\r\n");
    f.close();
    Rig third;
    QCOMPARE(third.files.openAtStart("Kr47bdb", text).status, FileResult::Failed);
    QCOMPARE(fileBytes(text), QByteArray("No\tTime\r\n"));
}

void TestRecordFiles::roundTripKeepsAllSevenFields() {
    QTemporaryDir dir;
    Rig rig;
    QVERIFY(rig.files.openAtStart("Kr47bdb", dir.filePath("Kr47bdb.DB")).ok());
    rig.record(300);
    const std::vector<RecordRow> recorded = rig.rows();
    QVERIFY(rig.store.hasUnsavedRows());
    int64_t savedCount = -1;
    rig.store.setRowsSavedHandler([&savedCount](int64_t rows) { savedCount = rows; });

    const QString copy = dir.filePath("run1.db");
    const FileResult saved = rig.files.save(copy);
    QVERIFY2(saved.ok(), qPrintable(saved.error));
    QVERIFY(!rig.store.hasUnsavedRows());
    QCOMPARE(savedCount, int64_t(300));

    rig.store.RecordNewClick();
    const FileResult opened = rig.files.open(copy);
    QVERIFY2(opened.ok(), qPrintable(opened.error));
    QCOMPARE(rig.table.name(), copy.toStdString());
    QCOMPARE(rig.files.filePath(), copy);
    const std::vector<RecordRow> back = rig.rows();
    QCOMPARE(back.size(), recorded.size());
    for (size_t i = 0; i < back.size(); ++i) QVERIFY2(back[i] == recorded[i], qPrintable(QString::number(i)));

    // the upper-case name is no table copy but text, and the text holds every row
    const QString text = dir.filePath("RUN1.DB");
    QVERIFY(rig.files.save(text).ok());
    const QList<QByteArray> lines = fileBytes(text).split('\n');
    QCOMPARE(lines.size(), 1 + 300 + 1);
    QVERIFY(lines[0].startsWith("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r"));

    // an empty table: the header line alone, and a table without rows
    rig.store.RecordNewClick();
    QVERIFY(rig.files.save(dir.filePath("empty.xls")).ok());
    QCOMPARE(fileBytes(dir.filePath("empty.xls")), QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"));
    QVERIFY(rig.files.save(dir.filePath("empty.db")).ok());
    FileResult r;
    int64_t rows = 0;
    r = ParadoxTable::read(dir.filePath("empty.db"), [&rows](const RecordRow&) { ++rows; });
    QVERIFY(r.ok());
    QCOMPARE(rows, int64_t(0));
}

void TestRecordFiles::failedOpenKeepsTheTable_data() {
    QTest::addColumn<QString>("file");
    for (const char* f : {"empty.DB", "text_table.DB", "no_unit_field.db", "nval_is_alpha.db", "truncated.db",
                          "block_loop.db", "row_count_off.db", "index.PX", "missing.db"}) {
        QTest::newRow(f) << QStringLiteral(DMM_TEST_DATA_DIR "/tables/") + f;
    }
    QTest::newRow("held by another program") << QString();
}

void TestRecordFiles::failedOpenKeepsTheTable() {
    QFETCH(QString, file);
    QTemporaryDir dir;
    TableLock other;
    if (file.isEmpty()) {
        file = dir.filePath("held.db");
        QVERIFY(ParadoxTable::write(file, VectorSource(sampleRows(3))).ok());
        QVERIFY(other.lock(file));
    }
    Rig rig;
    const QString start = dir.filePath("Kr47bdb.DB");
    QVERIFY(rig.files.openAtStart("Kr47bdb", start).ok());
    rig.record(5);
    const std::vector<RecordRow> before = rig.rows();

    const FileResult r = rig.files.open(file);
    QCOMPARE(r.status, FileResult::Failed);
    QVERIFY(!r.error.isEmpty());
    QVERIFY(rig.table.isOpen());
    QCOMPARE(rig.table.name(), std::string("Kr47bdb"));
    QCOMPARE(rig.files.filePath(), start);
    QVERIFY(rig.rows() == before);
    QVERIFY(rig.store.hasUnsavedRows());
    // the start table is still held, and readings are still stored
    TableLock probe;
    QVERIFY(!probe.lock(start));
    rig.record(1);
    QCOMPARE(rig.table.rowCount(), int64_t(6));
}

// An old file opened, readings recorded on, saved: the old rows, then the new ones numbered on
// from the running number; the store's counters were not reset by the open.
void TestRecordFiles::openedRowsAreNumberedOn() {
    QTemporaryDir dir;
    const QString old = dir.filePath("old.db");
    QVERIFY(ParadoxTable::write(old, VectorSource(sampleRows(4))).ok());
    Rig rig;
    QVERIFY(rig.files.openAtStart("Kr47bdb", dir.filePath("Kr47bdb.DB")).ok());
    rig.record(7);
    rig.state.SampleCountdown = 3;
    rig.state.LastRecordKey = "key";
    QVERIFY(rig.files.open(old).ok());
    QCOMPARE(rig.state.RecordNo, 8);
    QCOMPARE(rig.state.RecordCount, 7);
    QCOMPARE(rig.state.SampleCountdown, 3);
    QCOMPARE(rig.state.LastRecordKey, std::string("key"));
    QVERIFY(!rig.store.hasUnsavedRows());
    // the old start table is let go of, the opened file held
    TableLock probe;
    QVERIFY(probe.lock(dir.filePath("Kr47bdb.DB")));
    QVERIFY(!TableLock().lock(old));

    rig.record(2);
    const QString saved = dir.filePath("joined.db");
    QVERIFY(rig.files.save(saved).ok());
    const std::vector<RecordRow> rows = readTable(saved);
    QCOMPARE(rows.size(), size_t(6));
    const std::vector<RecordRow> oldRows = sampleRows(4);
    for (int i = 0; i < 4; ++i) QVERIFY(rows[size_t(i)] == oldRows[size_t(i)]);
    QCOMPARE(rows[4].no, 8);
    QCOMPARE(rows[5].no, 9);
}

// The file renamed over the locked one is locked again; text is not written over the table.
void TestRecordFiles::savingOntoTheOpenTableKeepsItLocked() {
    QTemporaryDir dir;
    const QString own = dir.filePath("own.db");
    Rig rig;
    QVERIFY(rig.files.openAtStart("own", own).ok());
    rig.record(3);
    QVERIFY(rig.files.save(own).ok());
    QCOMPARE(readTable(own).size(), size_t(3));
    TableLock probe;
    QVERIFY(!probe.lock(own));

    Rig upper;
    const QString start = dir.filePath("Kr47bdb.DB");
    QVERIFY(upper.files.openAtStart("Kr47bdb", start).ok());
    upper.record(2);
    const FileResult refused = upper.files.save(start);
    QCOMPARE(refused.status, FileResult::Failed);
    QVERIFY(upper.store.hasUnsavedRows());
    QCOMPARE(readTable(start).size(), size_t(0));  // still a table

    // nor is the table that another program has open replaced
    const FileResult held = upper.files.save(own);
    QCOMPARE(held.status, FileResult::Failed);
    QVERIFY2(held.error.contains("in use"), qPrintable(held.error));
    QCOMPARE(readTable(own).size(), size_t(3));
}

// A reading that arrives while the rows are written is not in the file: it stays unsaved, and
// the handler hears how many rows are on file.
void TestRecordFiles::readingsDuringASaveStayUnsaved() {
    QTemporaryDir dir;
    Rig rig;
    QVERIFY(rig.files.openAtStart("Kr47bdb", dir.filePath("Kr47bdb.DB")).ok());
    RecordJournal journal;
    const std::string journalPath = dir.filePath("Kr47bdb.journal").toStdString();
    QVERIFY(journal.claim(journalPath));
    rig.store.setJournal(&journal);
    rig.record(100000);
    QVERIFY(rig.store.syncJournal());
    int64_t onFile = -1;
    rig.store.setRowsSavedHandler([&onFile](int64_t rows) { onFile = rows; });
    bool arrived = false;
    const FileResult r = rig.files.save(dir.filePath("busy.txt"), [&](int64_t done, int64_t) {
        if (done > 0 && !arrived) {
            arrived = true;
            rig.record(1);
        }
        return true;
    });
    QVERIFY2(r.ok(), qPrintable(r.error));
    QVERIFY(arrived);
    QCOMPARE(onFile, int64_t(100000));
    QVERIFY(rig.store.hasUnsavedRows());
    // the journal keeps that one reading, the saved rows are let go of
    QVERIFY(rig.store.syncJournal());
    const RecordJournal::Contents kept = RecordJournal::read(journalPath);
    QCOMPARE(kept.rows.size(), size_t(1));
    QVERIFY(kept.rows[0] == rig.table.row(100000));

    // a cancelled save leaves the earlier file and the flag as they were
    const QByteArray earlier = fileBytes(dir.filePath("busy.txt"));
    const FileResult cancelled =
        rig.files.save(dir.filePath("busy.txt"), [](int64_t done, int64_t) { return done == 0; });
    QCOMPARE(cancelled.status, FileResult::Cancelled);
    QCOMPARE(fileBytes(dir.filePath("busy.txt")), earlier);
    QVERIFY(rig.store.hasUnsavedRows());
}

QTEST_MAIN(TestRecordFiles)
#include "tst_record_files.moc"
