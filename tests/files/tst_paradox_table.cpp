#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "ParadoxTable.h"
#include "TableRows.h"
#include "TableTestSupport.h"

namespace {

// A source of many equal rows that never holds them.
class RepeatSource : public RecordSource {
public:
    explicit RepeatSource(int64_t count) : count_(count) {}
    int64_t rowCount() const override { return count_; }
    RecordRow row(int64_t i) const override {
        RecordRow r = sampleRows(1).front();
        r.no = int32_t(i + 1);
        return r;
    }

private:
    int64_t count_;
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

class TestParadoxTable : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("empty") << 0;
        QTest::newRow("one row") << 1;
        QTest::newRow("one full 4 KiB block") << 78;
        QTest::newRow("one row into the second block") << 79;
        QTest::newRow("many blocks") << 5000;
    }

    // Our reader and pxlib read back every field of what the writer wrote.
    void roundTrip() {
        QFETCH(int, count);
        QTemporaryDir dir;
        const QString path = dir.filePath("run1.db");
        const std::vector<RecordRow> rows = sampleRows(count);
        const FileResult written = ParadoxTable::write(path, VectorSource(rows));
        QVERIFY2(written.ok(), qPrintable(written.error));
        QCOMPARE(written.rows, int64_t(count));

        FileResult read;
        QVERIFY(readTable(path, &read) == rows);
        QVERIFY2(read.ok(), qPrintable(read.error));
        std::vector<RecordRow> viaPxlib;
        QVERIFY(pxlibRead(path, viaPxlib));
        QVERIFY(viaPxlib == rows);
    }

    // A text wider than the usual field (from a table written elsewhere) widens the field
    // instead of being cut.
    void widerTextsWidenTheirField() {
        QTemporaryDir dir;
        const QString path = dir.filePath("wide.db");
        std::vector<RecordRow> rows = sampleRows(200);
        rows[150].value = std::string(40, '9');
        rows[151].unit = "\xC2\xB5V";  // a micro sign, one byte in the table's code page
        QVERIFY(ParadoxTable::write(path, VectorSource(rows)).ok());
        QVERIFY(readTable(path) == rows);
        std::vector<RecordRow> viaPxlib;
        QVERIFY(pxlibRead(path, viaPxlib));
        QCOMPARE(viaPxlib[150].value, rows[150].value);
        rows[3].autoText = std::string(300, 'x');
        const FileResult tooLong = ParadoxTable::write(path, VectorSource(rows));
        QCOMPARE(tooLong.status, FileResult::Failed);
        QVERIFY(readTable(path).size() == 200);  // the earlier table stays
    }

    void capacityHoldsTheLimitlessRecordLimit() {
        QVERIFY(ParadoxTable::capacity() >= 10000000);
        QTemporaryDir dir;
        const QString path = dir.filePath("big.db");
        writeFile(path, "earlier");
        const FileResult r = ParadoxTable::write(path, RepeatSource(ParadoxTable::capacity() + 1));
        QCOMPARE(r.status, FileResult::Failed);
        QVERIFY(r.error.contains(QStringLiteral("at most")));
        QCOMPARE(fileBytes(path), QByteArray("earlier"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"big.db"});
    }

    void cancelledSaveKeepsTheEarlierFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.db");
        writeFile(path, "earlier");
        int calls = 0;
        int64_t totalSeen = 0;
        const FileResult r =
            ParadoxTable::write(path, RepeatSource(200000), [&](int64_t done, int64_t total) {
                totalSeen = total;
                return ++calls < 3 && done < total;
            });
        QCOMPARE(totalSeen, int64_t(200000));
        QCOMPARE(r.status, FileResult::Cancelled);
        QCOMPARE(fileBytes(path), QByteArray("earlier"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"run.db"});

        QVERIFY(ParadoxTable::write(path, RepeatSource(200000)).ok());
        int64_t seen = 0;
        const FileResult open = ParadoxTable::read(
            path, [&](const RecordRow&) { ++seen; }, [](int64_t done, int64_t) { return done < 100000; });
        QCOMPARE(open.status, FileResult::Cancelled);
        QVERIFY(seen < 200000);
    }

    void createEmptyGivesTheRecordLayout() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kr47bdb.DB");
        QVERIFY(ParadoxTable::createEmpty(path).ok());
        FileResult r;
        QVERIFY(readTable(path, &r).empty());
        QVERIFY(r.ok());
    }

    void tablesPxlibWrites_data() {
        QTest::addColumn<std::vector<PxField>>("layout");
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("blockK");
        const std::vector<PxField> store = {
            {"no", pxfLong, 4},     {"time", pxfTime, 4},  {"DC/AC", pxfAlpha, 2}, {"value", pxfAlpha, 10},
            {"unit", pxfAlpha, 12}, {"Auto", pxfAlpha, 4}, {"Nval", pxfNumber, 8}};
        const std::vector<PxField> shuffled = {{"NVAL", pxfNumber, 8}, {"Comment", pxfAlpha, 30},
                                               {"UNIT", pxfAlpha, 20}, {"Value", pxfAlpha, 20},
                                               {"AUTO", pxfAlpha, 6},  {"dc/ac", pxfAlpha, 5},
                                               {"Time", pxfTime, 4},   {"No", pxfShort, 2}};
        const std::vector<PxField> numbers = {
            {"no", pxfNumber, 8},   {"time", pxfTime, 4},  {"DC/AC", pxfAlpha, 2}, {"value", pxfAlpha, 10},
            {"unit", pxfAlpha, 12}, {"Auto", pxfAlpha, 4}, {"Nval", pxfLong, 4}};
        for (int k : {0, 1, 2, 4, 8, 16, 32}) {
            QTest::addRow("level 7, block %d KiB", k) << store << 70 << k;
            QTest::addRow("level 5, block %d KiB", k) << store << 50 << k;
        }
        QTest::newRow("other order, other case, an extra field") << shuffled << 70 << 0;
        QTest::newRow("number and long integer fields") << numbers << 70 << 4;
    }

    // Tables pxlib writes open here with the same rows.
    void tablesPxlibWrites() {
        QFETCH(std::vector<PxField>, layout);
        QFETCH(int, version);
        QFETCH(int, blockK);
        QTemporaryDir dir;
        const QString path = dir.filePath("pxlib.db");
        std::vector<RecordRow> rows = sampleRows(700);
        for (RecordRow& r : rows) r.nval = double(int(r.nval));  // fits a long integer field
        QVERIFY(pxlibWrite(path, layout, rows, version, blockK));
        const QByteArray bytes = fileBytes(path);
        QCOMPARE(int(bytes[0x39]), version == 70 ? 12 : 11);
        if (blockK) QCOMPARE(int(bytes[5]), blockK);
        FileResult r;
        const std::vector<RecordRow> read = readTable(path, &r);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(read.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) QVERIFY2(read[i] == rows[i], qPrintable(QString::number(i)));
    }

    void refusesFilesThatAreNotRecordTables_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << "empty.DB"
                               << "the file is empty";
        QTest::newRow("text named .DB") << "text_table.DB"
                                        << "not a Paradox table";
        QTest::newRow("lacks the unit field") << "no_unit_field.db"
                                              << "has no field \"unit\"";
        QTest::newRow("Nval field of the alpha type") << "nval_is_alpha.db"
                                                      << "field \"Nval\" is of a type";
        QTest::newRow("truncated") << "truncated.db"
                                   << "truncated";
        QTest::newRow("block chain in a loop") << "block_loop.db"
                                               << "chain of data blocks";
        QTest::newRow("row count off") << "row_count_off.db"
                                       << "number of rows";
        QTest::newRow("primary index file") << "index.PX"
                                            << "index, not a table";
    }

    void refusesFilesThatAreNotRecordTables() {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        const QString path = QStringLiteral(DMM_TEST_DATA_DIR "/tables/") + file;
        QVERIFY2(QFile::exists(path), qPrintable(path));
        FileResult r;
        const std::vector<RecordRow> rows = readTable(path, &r);
        QCOMPARE(r.status, FileResult::Failed);
        QVERIFY2(r.error.contains(reason), qPrintable(r.error));
        QVERIFY(r.error.contains(file));
        QVERIFY(rows.empty());
    }

    // Damaged bytes anywhere give a table or an error, never a crash or a read out of bounds.
    void damagedBytesNeverCrash() {
        QTemporaryDir dir;
        const QString path = dir.filePath("fuzz.db");
        QVERIFY(ParadoxTable::write(path, VectorSource(sampleRows(300))).ok());
        const QByteArray good = fileBytes(path);
        QRandomGenerator rng(11);
        int failures = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes = good;
            const int edits = 1 + int(rng.bounded(4));
            for (int e = 0; e < edits; ++e) {
                // Mostly the header and block headers, where the structure lives.
                const int at = rng.bounded(4) == 0
                                   ? int(rng.bounded(bytes.size()))
                                   : int(rng.bounded(std::min<qsizetype>(bytes.size(), 0x900)));
                bytes[at] = char(rng.bounded(256));
            }
            if (round % 7 == 0) bytes.truncate(int(rng.bounded(bytes.size())));
            int64_t rows = 0;
            const FileResult r = ParadoxTable::readBytes(bytes, [&](const RecordRow&) { ++rows; });
            if (!r.ok()) {
                ++failures;
                QVERIFY(!r.error.isEmpty());
                QCOMPARE(rows, int64_t(0));
            }
        }
        QVERIFY(failures > 0);
    }
};

QTEST_GUILESS_MAIN(TestParadoxTable)
#include "tst_paradox_table.moc"
