#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "DataFiles.h"
#include "XlsxExport.h"

namespace {

class Rows : public RecordSource {
public:
    std::vector<RecordRow> rows;
    int64_t rowCount() const override { return int64_t(rows.size()); }
    RecordRow row(int64_t i) const override { return rows[size_t(i)]; }
};

RecordRow row(int32_t no, int32_t day, int32_t timeMs, int32_t offset, const char* value, const char* unit,
              double counts) {
    RecordRow r;
    r.no = no;
    r.day = day;
    r.timeMs = timeMs;
    r.utcOffsetMin = offset;
    r.value = value;
    r.unit = unit;
    r.dcAc = "DC";
    r.autoText = "AUTO";
    r.nval = counts;
    return r;
}

// What openpyxl makes of the workbook next to the CSV file of the same rows.
QString compareWithCsv(const QString& xlsx, const QString& csv) {
    // the system's Python, which the Debian package of openpyxl belongs to
    QProcess python;
    python.start(QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3",
                 {QStringLiteral(DMM_TEST_SOURCE_DIR "/xlsx_matches_csv.py"), xlsx, csv});
    if (!python.waitForFinished(60000)) return "python3 did not finish";
    return QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError()).trimmed();
}

}  // namespace

class XlsxExportTest : public QObject {
    Q_OBJECT
private slots:
    // Rows of every kind: a date-time to the millisecond, midnight, a summer and a winter offset,
    // a day before 1970, a row without a date, an overload, negative and unit-less values, notes.
    void workbookCellsEqualTheCsv() {
        QTemporaryDir dir;
        Rows rows;
        rows.rows = {
            row(1, 20794, 43'200'123, 60, "12.34", "m#", 1234), row(2, 20794, 0, 60, "-0.005", "#", -5),
            row(3, 20650, 86'399'999, 120, "0.L", "k*", 4000),  row(4, -1, 3'600'000, 0, "400.0", "Hz", 4000),
            row(5, kNoDay, 45'296'789, 0, "1999", "", 1999),
        };
        const RowNotes notes = {{0, "segment 1: value > 1"}, {3, "3 readings skipped, \"quoted\""}};
        for (const RowNotes* n : {static_cast<const RowNotes*>(nullptr), &notes}) {
            const QString xlsx = dir.filePath("t.xlsx"), csv = dir.filePath("t.csv");
            QVERIFY(DataFiles::save(xlsx, rows, {}, n).ok());
            QVERIFY(DataFiles::save(csv, rows, {}, n).ok());
            QCOMPARE(compareWithCsv(xlsx, csv), QStringLiteral("same 5"));
        }
    }

    // The spreadsheet's day numbers: 1970-01-01 is 25569, a day before it one less, noon half a day.
    void serialDates_data() {
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("timeMs");
        QTest::addColumn<double>("serial");
        QTest::newRow("1970 midnight") << 0 << 0 << 25569.0;
        QTest::newRow("1969, noon") << -1 << 43'200'000 << 25568.5;
        QTest::newRow("2000-01-01 06:00") << 10957 << 21'600'000 << 36526.25;
    }
    void serialDates() {
        QFETCH(int, day);
        QFETCH(int, timeMs);
        QFETCH(double, serial);
        QCOMPARE(XlsxExport::serialOf(day, timeMs), serial);
    }

    // A save that cannot be completed leaves the file there as it was, and nothing beside it.
    void failedSaveLeavesTheOldFile() {
        QTemporaryDir dir;
        Rows rows;
        rows.rows = {row(1, 20794, 1000, 60, "1.000", "#", 1000)};
        const QString path = dir.filePath("kept.xlsx");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        const FileResult cancelled = DataFiles::save(path, rows, [](int64_t, int64_t) { return false; });
        QCOMPARE(cancelled.status, FileResult::Cancelled);
        QVERIFY(QFile::exists(path));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.xlsx"});
        const FileResult failed = DataFiles::save(dir.filePath("none/t.xlsx"), rows);
        QCOMPARE(failed.status, FileResult::Failed);
        QVERIFY2(failed.error.contains("none"), qPrintable(failed.error));
    }
};

QTEST_GUILESS_MAIN(XlsxExportTest)
#include "tst_xlsx_export.moc"
