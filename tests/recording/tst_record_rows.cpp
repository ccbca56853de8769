// Compact row storage and the record table: rows come back exactly as appended, whatever their
// texts and counts, and a long run stays within its memory budget.
#include <QTest>
#include <cmath>
#include <limits>

#include "CompactRows.h"
#include "RecordTable.h"

namespace {

RecordRow makeRow(int32_t no, const std::string& value, const std::string& unit, double nval,
                  const std::string& dcAc = "DC", const std::string& autoText = "AUTO") {
    RecordRow r;
    r.no = no;
    r.timeMs = no * 37 % 86400000;
    r.dcAc = dcAc;
    r.value = value;
    r.unit = unit;
    r.autoText = autoText;
    r.nval = nval;
    return r;
}

}  // namespace

class RecordRowsTest : public QObject {
    Q_OBJECT

private slots:
    void roundTrip();
    void bytesPerRowOfALongRun();
    void tableOpenSaveSeam();
};

void RecordRowsTest::roundTrip() {
    // texts and counts as readings form them, and as other table files may hold them
    std::vector<RecordRow> rows = {
        makeRow(1, "1.234", "V", 1234),
        makeRow(2, "1.234", "V", 1234),  // a repeat reuses both texts
        makeRow(3, "-0.L", "k*", -4000, "AC", "MANU"),
        makeRow(4, "", "", 0, "", ""),
        makeRow(5, "1.234", "mV", 1234, "DC", "AUTO"),  // same value, other unit
        makeRow(6, "0.1", "#", 0.1),                    // not a float: kept exactly
        makeRow(7, "big", "?", 1e300),
        makeRow(-8, "a much longer value text than any meter shows",
                "\xc2\xb5"
                "F",
                -2.5),
        makeRow(9, "1.234", "V", std::numeric_limits<double>::quiet_NaN()),
        makeRow(10, "1.234", "V", 1234),
    };
    // dates come and go in runs: undated rows (from a table file) between dated ones, a new day,
    // a new offset on the same day
    for (std::size_t i : {1, 2, 3, 6, 7, 8}) rows[i].day = i < 6 ? 20794 : 20795;
    rows[1].utcOffsetMin = rows[2].utcOffsetMin = 60;
    rows[3].utcOffsetMin = 120;
    rows[7].utcOffsetMin = rows[8].utcOffsetMin = -330;
    CompactRows store;
    for (const auto& r : rows) store.append(r);
    QCOMPARE(store.rowCount(), int64_t(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        RecordRow got = store.row(static_cast<int64_t>(i));
        if (std::isnan(rows[i].nval)) {
            QVERIFY(std::isnan(got.nval));
            RecordRow want = rows[i];
            want.nval = got.nval = 0;
            QCOMPARE(got, want);
        } else {
            QVERIFY2(got == rows[i], qPrintable(QString::number(i)));
        }
    }
    QCOMPARE(store.row(-1), RecordRow());
    QCOMPARE(store.row(int64_t(rows.size())), RecordRow());

    // after clearing, the texts of the rows before do not leak into the rows after, not even for a
    // row with the same DC/AC, unit and Auto as the last one before
    store.clear();
    store.append(makeRow(1, "1.234", "V", 1234));
    store.append(makeRow(2, "7", "Hz", 0.5, "", "MANU"));
    QCOMPARE(store.row(0), makeRow(1, "1.234", "V", 1234));
    QCOMPARE(store.row(1), makeRow(2, "7", "Hz", 0.5, "", "MANU"));
}

// A long run of readings of one meter: within 32 bytes a row (10 000 000 rows in the benchmark).
void RecordRowsTest::bytesPerRowOfALongRun() {
    CompactRows store;
    constexpr int kRows = 1000000;
    for (int i = 0; i < kRows; ++i) {
        const int counts = i % 8000 - 4000;
        store.append(makeRow(i + 1, std::to_string(counts), i % 5000 < 2500 ? "V" : "m*", counts,
                             i % 3 ? "DC" : "AC"));
    }
    const double perRow = double(store.bytesUsed()) / kRows;
    QVERIFY2(perRow <= 32, qPrintable(QString::number(perRow)));
    QCOMPARE(store.row(kRows - 1).no, kRows);
    QCOMPARE(store.row(kRows - 1).value, std::to_string((kRows - 1) % 8000 - 4000));

    // a snapshot keeps the rows of its moment through appends, New and Open, and costs no copy of them
    const RecordRow first = store.row(0), last = store.row(kRows - 1);
    const std::shared_ptr<const RecordSource> snap = store.snapshot();
    store.append(makeRow(kRows + 1, "new", "V", 0.5));
    store.clear();
    for (int i = 0; i < 10; ++i) store.append(makeRow(i, "other", "Hz", 0.25));
    CompactRows opened;
    store.swap(opened);
    QCOMPARE(snap->rowCount(), int64_t(kRows));
    QCOMPARE(snap->row(0), first);
    QCOMPARE(snap->row(kRows - 1), last);
    QCOMPARE(snap->row(kRows), RecordRow());
}

// Opening and saving go through the file functions plugged into the table; without them a table
// is only named, and saving says it cannot.
void RecordRowsTest::tableOpenSaveSeam() {
    RecordTable table;
    QVERIFY(!table.isOpen());
    QVERIFY(table.open("Kr47bdb"));
    QCOMPARE(table.name(), std::string("Kr47bdb"));
    table.append(makeRow(1, "1", "V", 1));
    const Result<> unsaved = table.save("out.db");
    QVERIFY(!unsaved);
    QVERIFY(!unsaved.error().empty());

    int64_t written = 0;
    table.setWriter([&written](const RecordSource& rows, const std::string&) {
        written = rows.rowCount();
        return Result<>();
    });
    QVERIFY(table.save("out.db"));
    QCOMPARE(written, int64_t(1));

    table.setReader(
        [](const std::string& path, const std::function<void(const RecordRow&)>& add) -> Result<> {
            if (path == "missing.db") return Failure{"no such file"};
            add(makeRow(41, "2.5", "V", 25));
            add(makeRow(42, "2.6", "V", 26));
            return {};
        });
    QVERIFY(table.open("old.db"));
    QCOMPARE(table.rowCount(), int64_t(2));
    QCOMPARE(table.row(1).no, 42);
    const Result<> missing = table.open("missing.db");
    QVERIFY(!missing);
    QCOMPARE(missing.error(), std::string("no such file"));
    // a failed open keeps the table that was open, rows and name
    QVERIFY(table.isOpen());
    QCOMPARE(table.name(), std::string("old.db"));
    QCOMPARE(table.rowCount(), int64_t(2));
}

QTEST_MAIN(RecordRowsTest)
#include "tst_record_rows.moc"
