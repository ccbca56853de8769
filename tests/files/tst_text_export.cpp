#include <QProcess>
#include <QTemporaryDir>
#include <QTime>
#include <QtTest>

#include "DataFiles.h"
#include "LocalClock.h"
#include "TableTestSupport.h"
#include "TextExport.h"
#include "TimeOfDayFormat.h"

class TestTextExport : public QObject {
    Q_OBJECT

private slots:
    void linesAsTheTableGivesThem() {
        QTemporaryDir dir;
        const QString path = dir.filePath("run1.xls");
        std::vector<RecordRow> rows(3);
        rows[0] = {1, 0, "DC", "1.234", "V", "AUTO", 1234};
        rows[1] = {2, 13 * 3600000 + 5 * 60000 + 9000 + 999, "AC", "-.0L", "k*", "MANU", -4001};
        rows[2] = {10, 86399999, "", "0.L", "#", "AUTO", 4000};
        const FileResult r = TextExport::write(path, VectorSource(rows), {}, QLocale::c());
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.rows, int64_t(3));
        QCOMPARE(fileBytes(path), QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"
                                             "1\t00:00:00\tDC\t1.234\tV\tAUTO\r\n"
                                             "2\t13:05:09\tAC\t-.0L\tk*\tMANU\r\n"
                                             "10\t23:59:59\t\t0.L\t#\tAUTO\r\n"));

        // A time beyond the day (only a damaged row could hold one) still reads as a time.
        std::string wrapped;
        TimeOfDayFormat(QLocale::c()).append(wrapped, -1000);
        QCOMPARE(wrapped, std::string("23:59:59"));

        QVERIFY(TextExport::write(path, VectorSource({})).ok());
        QCOMPARE(fileBytes(path), TextExport::headerLine());
    }

    // CSV for spreadsheets and scripts, chosen by a .csv name in any case: the date and time with
    // its offset, or the time of day alone for a row from an old table; units in real symbols;
    // the value as a plain number; quotes only where a field needs them.
    void csvForSpreadsheets() {
        QTemporaryDir dir;
        std::vector<RecordRow> rows(6);
        rows[0] = {1, 86399875, "DC", "02.50", "k*", "AUTO", 250};
        rows[1] = {2, 0, "AC", "-0.012", "uF", "MANU", -12};
        rows[2] = {3, 86399000, "", "0.L", "#", "AUTO", 4000};
        rows[3] = {4, 1000, "D\"C", "1,5", "&*", "AUTO", 15};  // texts only a foreign table holds
        rows[0].day = dayNumber(2026, 12, 7);
        rows[1].day = rows[0].day + 1;
        rows[3].day = 0;
        rows[0].utcOffsetMin = 60;
        rows[1].utcOffsetMin = -330;
        // the autumn change: the same day goes on an hour further from UTC
        rows[4] = {5, 10799500, "DC", "1.000", "V", "AUTO", 1000};
        rows[5] = {6, 7200100, "DC", "1.001", "V", "AUTO", 1001};
        rows[4].day = rows[5].day = dayNumber(2026, 10, 25);
        rows[4].utcOffsetMin = 120;
        rows[5].utcOffsetMin = 60;
        const QString path = dir.filePath("run1.Csv");
        QVERIFY(DataFiles::save(path, VectorSource(rows)).ok());
        QCOMPARE(fileBytes(path),
                 QByteArray("No,Date and time,Value,Unit,AC/DC,AUTO/MANU,Number,Counts\r\n"
                            "1,2026-12-07T23:59:59.875+01:00,02.50,k\xce\xa9,DC,AUTO,2.5,250\r\n"
                            "2,2026-12-08T00:00:00.000-05:30,-0.012,\xc2\xb5"
                            "F,AC,MANU,-0.012,-12\r\n"
                            "3,23:59:59.000,0.L,\xc2\xb0"
                            "C,,AUTO,,4000\r\n"
                            "4,1970-01-01T00:00:01.000+00:00,\"1,5\",\xce\xa9,\"D\"\"C\",AUTO,,15\r\n"
                            "5,2026-10-25T02:59:59.500+02:00,1.000,V,DC,AUTO,1,1000\r\n"
                            "6,2026-10-25T02:00:00.100+01:00,1.001,V,DC,AUTO,1.001,1001\r\n"));

        // a real CSV reader takes eight fields a line and the quoted ones back whole
        QProcess reader;
        reader.start("python3",
                     {"-c",
                      "import csv,sys; r=list(csv.reader(open(sys.argv[1],newline='',encoding='utf-8')));"
                      "assert [len(x) for x in r]==[8]*7 and r[4][2]=='1,5' and r[4][4]=='D\"C', r",
                      path});
        if (reader.waitForFinished()) QCOMPARE(reader.exitCode(), 0);
    }

    void timeFormatOfTheSystem_data() {
        QTest::addColumn<QString>("locale");
        for (const char* name : {"C", "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "ko_KR", "ar_EG", "fi_FI"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    // Seconds always, no time-zone name, and the same text QLocale gives for that format.
    void timeFormatOfTheSystem() {
        QFETCH(QString, locale);
        const QLocale l(locale);
        const TimeOfDayFormat format(l);
        const QString pattern = format.pattern();
        QVERIFY2(pattern.contains(u's'), qPrintable(pattern));
        QVERIFY2(!pattern.contains(u't'), qPrintable(pattern));
        for (int ms : {0, 999, 3600000 * 9 + 60000 * 7 + 3000, 3600000 * 12, 3600000 * 13 + 1, 86399999}) {
            std::string text;
            format.append(text, ms);
            const QString expected = l.toString(QTime::fromMSecsSinceStartOfDay(ms), pattern);
            QCOMPARE(QString::fromStdString(text), expected);
        }
    }

    void resultMessages() {
        QCOMPARE(TextExport::successMessage("C:\\data\\run1.xls"),
                 QStringLiteral("save table to specified file: C:\\data\\run1.xls Scuss!"));
        QCOMPARE(TextExport::failureMessage("/tmp/run1.xls"),
                 QStringLiteral("Could not save table to specified file: /tmp/run1.xls"));
    }

    void formatFromTheChosenName_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("table");
        QTest::newRow("no extension gets xls") << "/d/run1"
                                               << "/d/run1.xls"
                                               << ".xls" << false;
        QTest::newRow(".db") << "/d/run1.db"
                             << "/d/run1.db"
                             << ".db" << true;
        QTest::newRow(".DB is text") << "/d/RUN1.DB"
                                     << "/d/RUN1.DB"
                                     << ".DB" << false;
        QTest::newRow(".Db is text") << "/d/run1.Db"
                                     << "/d/run1.Db"
                                     << ".Db" << false;
        QTest::newRow(".txt") << "/d/run1.txt"
                              << "/d/run1.txt"
                              << ".txt" << false;
        QTest::newRow("last dot counts") << "/d/run1.db.txt"
                                         << "/d/run1.db.txt"
                                         << ".txt" << false;
        QTest::newRow("dot in a folder only") << "/d.db/run1"
                                              << "/d.db/run1.xls"
                                              << ".xls" << false;
        QTest::newRow("windows path") << "C:\\d.x\\run1.db"
                                      << "C:\\d.x\\run1.db"
                                      << ".db" << true;
        QTest::newRow("drive only") << "C:run1.db"
                                    << "C:run1.db"
                                    << ".db" << true;
    }

    void formatFromTheChosenName() {
        QFETCH(QString, chosen);
        QFETCH(QString, saved);
        QFETCH(QString, extension);
        QFETCH(bool, table);
        QCOMPARE(DataFiles::withDefaultExtension(chosen), saved);
        QCOMPARE(DataFiles::extensionOf(saved), extension);
        QCOMPARE(DataFiles::saveFormatFor(saved) == DataFiles::SaveFormat::ParadoxTable, table);
    }

    // A save that fails or is cancelled leaves the earlier file of that name as it was.
    void failedOrCancelledSaveKeepsTheEarlierFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("run1.xls");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier");
        f.close();
        const VectorSource rows(sampleRows(100000));
        const FileResult cancelled =
            DataFiles::save(path, rows, [](int64_t done, int64_t total) { return done < total / 2; });
        QCOMPARE(cancelled.status, FileResult::Cancelled);
        QCOMPARE(fileBytes(path), QByteArray("earlier"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"run1.xls"});

        const FileResult failed = DataFiles::save(dir.filePath("missing/run1.xls"), rows);
        QCOMPARE(failed.status, FileResult::Failed);
        QVERIFY(!failed.error.isEmpty());

        QVERIFY(DataFiles::save(path, rows).ok());
        QVERIFY(fileBytes(path).startsWith(TextExport::headerLine()));
        QCOMPARE(fileBytes(path).count("\r\n"), 100001);
    }
};

QTEST_GUILESS_MAIN(TestTextExport)
#include "tst_text_export.moc"
