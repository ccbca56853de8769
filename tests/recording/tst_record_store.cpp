// The storing rules: repeat filter, sampling interval against timer ticks, the record limit, New
// and the unsaved-rows flag, driven without a window.
#include <QTest>
#include <QTime>
#include <cstdlib>

#include "IntervalKeys.h"
#include "MeterState.h"
#include "RecordStore.h"

namespace {

struct Rig {
    RecordState state;
    RecordTable table;
    RecordStore store{state, table};
    MeterState m;
    int32_t now = 0;

    Rig() {
        table.openEmpty("Kr47bdb");
        RecordStore::applyStartValues(state);
        store.setClock([this] { return now; });
        m.AcDcText = "DC";
        m.UnitText = "V";
        m.AutoText = "AUTO";
    }
    bool offer(const std::string& value) {
        m.ValueText = value;
        m.NumericValue = static_cast<float>(std::atoi(value.c_str()));
        return store.INDataToTable(m);
    }
    QStringList values() const {
        QStringList out;
        for (int64_t i = 0; i < table.rowCount(); ++i) out << QString::fromStdString(table.row(i).value);
        return out;
    }
};

}  // namespace

class RecordStoreTest : public QObject {
    Q_OBJECT

private slots:
    void rowFields();
    void timeIsTheLocalTimeOfDay();
    void repeatRule_data();
    void repeatRule();
    void samplingInterval_data();
    void samplingInterval();
    void intervalText_data();
    void intervalText();
    void exactLimitThenNew();
    void newWithEmptyTableKeepsKeyAndCountdown();
    void unsavedRows();
    void closedTableTakesNothing();
    void keyFilter();
};

void RecordStoreTest::rowFields() {
    Rig r;
    r.now = 12 * 3600000 + 34 * 60000 + 56789;
    r.m.ValueText = "-0.L";
    r.m.NumericValue = -4000;
    r.m.AcDcText = "AC";
    r.m.UnitText = "k*";
    r.m.AutoText = "MANU";
    QVERIFY(r.store.INDataToTable(r.m));
    const RecordRow row = r.table.row(0);
    QCOMPARE(row.no, 1);
    QCOMPARE(row.timeMs, r.now);
    QCOMPARE(row.value, std::string("-0.L"));
    QCOMPARE(row.nval, -4000.0);
    QCOMPARE(row.dcAc, std::string("AC"));
    QCOMPARE(row.unit, std::string("k*"));
    QCOMPARE(row.autoText, std::string("MANU"));
    QCOMPARE(r.state.LastRecordKey, std::string("-0.LACk*MANU"));
    QCOMPARE(r.state.RecordNo, 2);
    QCOMPARE(r.state.RecordCount, 1);
}

void RecordStoreTest::timeIsTheLocalTimeOfDay() {
    RecordState state;
    RecordTable table;
    table.openEmpty("Kr47bdb");
    RecordStore store(state, table);
    MeterState m;
    m.ValueText = "1";
    const int before = QTime::currentTime().msecsSinceStartOfDay();
    QVERIFY(store.INDataToTable(m));
    const int after = QTime::currentTime().msecsSinceStartOfDay();
    const int stored = table.row(0).timeMs;
    // (a run across midnight wraps; the check allows for it)
    QVERIFY2((stored >= before - 1 && stored <= after + 1) || after < before,
             qPrintable(QStringLiteral("%1 not in %2..%3").arg(stored).arg(before).arg(after)));
}

void RecordStoreTest::repeatRule_data() {
    QTest::addColumn<bool>("repeat");
    // each reading is value/DC-AC/unit/Auto
    QTest::addColumn<QStringList>("readings");
    QTest::addColumn<QList<int>>("stored");  // indices of the readings that became rows
    const QStringList steady = {"1.000/DC/V/AUTO", "1.000/DC/V/AUTO", "1.000/DC/V/AUTO"};
    QTest::newRow("repeat on, steady") << true << steady << QList<int>{0};
    QTest::newRow("repeat off, steady") << false << steady << QList<int>{0, 1, 2};
    QTest::newRow("repeat on, each field changes")
        << true << QStringList{"1.000/DC/V/AUTO",  "1.001/DC/V/AUTO",  "1.001/AC/V/AUTO",
                               "1.001/AC/mV/AUTO", "1.001/AC/mV/MANU", "1.001/AC/mV/MANU"}
        << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("repeat on, back to an older reading")
        << true << QStringList{"1.000/DC/V/AUTO", "2.000/DC/V/AUTO", "1.000/DC/V/AUTO"}
        << QList<int>{0, 1, 2};
    // the key joins the texts without separators, so these two are the same reading to it
    QTest::newRow("repeat on, same joined key")
        << true << QStringList{"1.00/DC/V/AUTO", "1.00D/C/V/AUTO"} << QList<int>{0};
}

void RecordStoreTest::repeatRule() {
    QFETCH(bool, repeat);
    QFETCH(QStringList, readings);
    QFETCH(QList<int>, stored);
    Rig r;
    r.state.RepeatSet = repeat;
    QList<int> got;
    for (int i = 0; i < readings.size(); ++i) {
        const QStringList f = readings[i].split('/');
        r.m.ValueText = f[0].toStdString();
        r.m.AcDcText = f[1].toStdString();
        r.m.UnitText = f[2].toStdString();
        r.m.AutoText = f[3].toStdString();
        if (r.store.INDataToTable(r.m)) got << i;
        // the key follows every reading that passes limit and interval, stored or not
        QCOMPARE(QString::fromStdString(r.state.LastRecordKey), QString(readings[i]).remove('/'));
    }
    QCOMPARE(got, stored);
    QCOMPARE(r.table.rowCount(), stored.size());
}

void RecordStoreTest::samplingInterval_data() {
    QTest::addColumn<QString>("interval");
    QTest::addColumn<bool>("sampling");
    QTest::addColumn<bool>("repeat");
    // letters are readings with that value, T a tick of the sampling timer
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("stored");
    QTest::newRow("10 s: ten ticks between rows") << "10" << true << false << "aTTTTTTTTTbTc"
                                                  << "ac";
    QTest::newRow("10 s: the first reading after the ticks") << "10" << true << false << "aTTTTTTTTTTTTbcd"
                                                             << "ab";
    QTest::newRow("3 s, sampling off: every reading") << "3" << false << false << "abcTd"
                                                      << "abcd";
    QTest::newRow("3 s, switched on (S) after ticks that did not count")
        << "3" << false << false << "aTTTSbTTTc"
        << "ac";
    QTest::newRow("0: as if sampling were off") << "0" << true << false << "abcd"
                                                << "abcd";
    // a repeated reading does not reload the countdown, so the next change is stored at once
    QTest::newRow("2 s with repeat") << "2" << true << true << "aTTaaTb"
                                     << "ab";
    QTest::newRow("2 s, repeat refuses after the wait") << "2" << true << true << "aTaTab"
                                                        << "ab";
}

void RecordStoreTest::samplingInterval() {
    QFETCH(QString, interval);
    QFETCH(bool, sampling);
    QFETCH(bool, repeat);
    QFETCH(QString, script);
    QFETCH(QString, stored);
    Rig r;
    r.state.RecordSI = sampling;
    r.state.RepeatSet = repeat;
    QVERIFY(r.store.RecordSITimeChange(interval.toStdString()));
    // the edit restarts the countdown: let it run down first
    for (int i = 0; i < 20; ++i) r.store.TrecordTimer();
    QString got;
    for (const QChar c : script) {
        if (c == 'T') {
            r.store.TrecordTimer();
        } else if (c == 'S') {
            r.state.RecordSI = true;
        } else if (r.offer(std::string(1, c.toLatin1()))) {
            got += c;
        }
    }
    QCOMPARE(got, stored);
}

void RecordStoreTest::intervalText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("seconds");  // -1: not a valid integer
    QTest::newRow("digits") << "25" << 25;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("signed") << "+5" << 5;
    QTest::newRow("negative") << "-3" << -3;
    QTest::newRow("empty: the interval in force stays") << "" << -1;
    QTest::newRow("lone minus") << "-" << -1;
    QTest::newRow("lone plus") << "+" << -1;
    QTest::newRow("letters") << "1a" << -1;
    QTest::newRow("blank inside") << "1 0" << -1;
    QTest::newRow("leading blank") << " 5" << -1;
    QTest::newRow("two signs") << "+-5" << -1;
    QTest::newRow("too large") << "99999999999" << -1;
    QTest::newRow("decimal point") << "1.5" << -1;
}

void RecordStoreTest::intervalText() {
    QFETCH(QString, text);
    QFETCH(int, seconds);
    Rig r;
    r.state.SampleCountdown = 4;
    const Result<> applied = r.store.RecordSITimeChange(text.toStdString());
    const bool ok = applied.ok();
    QCOMPARE(ok, seconds >= 0 || text == "-3");
    if (ok) {
        QCOMPARE(r.state.SampleCountdown, seconds);
        QCOMPARE(r.state.SampleInterval, seconds);
    } else {
        QCOMPARE(QString::fromStdString(applied.error()), "'" + text + "' is not a valid integer value");
        QCOMPARE(r.state.SampleCountdown, 4);
        QCOMPARE(r.state.SampleInterval, 10);
    }
}

void RecordStoreTest::exactLimitThenNew() {
    Rig r;
    r.state.RepeatSet = false;
    r.store.setLimit(1000);
    for (int i = 0; i < 1500; ++i) r.offer(std::to_string(i));
    QCOMPARE(r.table.rowCount(), 1000);
    QCOMPARE(r.state.RecordCount, 1000);
    QCOMPARE(r.table.row(999).no, 1000);
    QCOMPARE(r.table.row(999).value, std::string("999"));

    r.store.RecordNewClick();
    QCOMPARE(r.table.rowCount(), 0);
    for (int i = 0; i < 1200; ++i) r.offer(std::to_string(i));
    QCOMPARE(r.table.rowCount(), 1000);
    QCOMPARE(r.table.row(0).no, 1);
    QCOMPARE(r.table.row(999).no, 1000);
    QCOMPARE(r.state.RecordNo, 1001);

    // a limit chosen below the count stops storing until New
    r.store.RecordNewClick();
    r.store.setLimit(5000);
    for (int i = 0; i < 1200; ++i) r.offer(std::to_string(i));
    r.store.setLimit(1000);
    QVERIFY(!r.offer("x"));
    QCOMPARE(r.table.rowCount(), 1200);
}

void RecordStoreTest::newWithEmptyTableKeepsKeyAndCountdown() {
    Rig r;
    QVERIFY(r.offer("5"));
    r.state.RecordSI = true;
    r.state.SampleCountdown = 0;
    r.store.RecordNewClick();
    r.store.RecordNewClick();  // on an empty table: nothing to empty, counters reset all the same
    QCOMPARE(r.table.rowCount(), 0);
    QCOMPARE(r.state.RecordNo, 1);
    QCOMPARE(r.state.RecordCount, 0);
    QCOMPARE(r.state.LastRecordKey, std::string("5DCVAUTO"));
    // the meter still shows the last stored reading: not stored again until it changes
    QVERIFY(!r.offer("5"));
    QVERIFY(r.offer("6"));
    QCOMPARE(r.table.row(0).no, 1);
}

void RecordStoreTest::unsavedRows() {
    Rig r;
    QVERIFY(!r.store.hasUnsavedRows());
    r.offer("1");
    QVERIFY(r.store.hasUnsavedRows());
    r.store.markSaved();
    QVERIFY(!r.store.hasUnsavedRows());
    r.offer("1");  // refused as a repeat: still nothing unsaved
    QVERIFY(!r.store.hasUnsavedRows());
    r.offer("2");
    r.store.RecordNewClick();
    QVERIFY(!r.store.hasUnsavedRows());
}

void RecordStoreTest::closedTableTakesNothing() {
    Rig r;
    r.table.close();
    QVERIFY(!r.offer("1"));
    QCOMPARE(r.state.RecordCount, 0);
    QCOMPARE(r.state.LastRecordKey, std::string());
    QVERIFY(!r.store.hasUnsavedRows());
}

void RecordStoreTest::keyFilter() {
    for (char16_t c = 1; c < 128; ++c) {
        const bool passes = (c >= u'0' && c <= u'9') || c == 8;
        QCOMPARE(IntervalKeys::RecordSITimeKeyPress(c), passes ? c : char16_t(0));
    }
}

QTEST_MAIN(RecordStoreTest)
#include "tst_record_store.moc"
