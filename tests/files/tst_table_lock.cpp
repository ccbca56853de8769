#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "DataFiles.h"
#include "ParadoxTable.h"
#include "TableLock.h"

class TestTableLock : public QObject {
    Q_OBJECT

private slots:
    void secondUserIsRefusedUntilTheFirstLetsGo() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kr47bdb.DB");
        QVERIFY(ParadoxTable::createEmpty(path).ok());

        TableLock first;
        QString error;
        QVERIFY2(first.lock(path, &error), qPrintable(error));
        QVERIFY(first.isLocked());

        TableLock second;
        QVERIFY(!second.lock(path, &error));
        QVERIFY2(error.contains(QStringLiteral("in use by another program")), qPrintable(error));
        QVERIFY(!second.isLocked());

        // Another process meets the same lock.
        const QString flock = QStandardPaths::findExecutable(QStringLiteral("flock"));
        if (!flock.isEmpty()) {
            QCOMPARE(QProcess::execute(flock, {"-n", "-x", path, "true"}), 1);
        }

        TableLock moved = std::move(first);
        QVERIFY(moved.isLocked());
        QVERIFY(!first.isLocked());
        moved.unlock();
        QVERIFY2(second.lock(path, &error), qPrintable(error));
        if (!flock.isEmpty()) QCOMPARE(QProcess::execute(flock, {"-n", "-x", path, "true"}), 1);
    }

    // Opening keeps the table that was open when the new file is refused.
    void openTableKeepsThePreviousTableOnFailure() {
        QTemporaryDir dir;
        const QString start = dir.filePath("Kr47bdb.DB");
        int rows = 0;
        auto count = [&](const RecordRow&) { ++rows; };
        TableLock lock;
        QVERIFY(DataFiles::openTable(start, lock, count, {}, true).ok());
        QVERIFY(QFile::exists(start));
        QCOMPARE(lock.path(), start);

        TableLock other;
        const FileResult busy = DataFiles::openTable(start, other, count);
        QCOMPARE(busy.status, FileResult::Failed);
        QVERIFY(busy.error.contains(QStringLiteral("in use")));
        QVERIFY(!other.isLocked());

        const QString damaged = QStringLiteral(DMM_TEST_DATA_DIR "/tables/truncated.db");
        QCOMPARE(DataFiles::openTable(damaged, lock, count).status, FileResult::Failed);
        QCOMPARE(lock.path(), start);

        QVERIFY(DataFiles::openTable(start, lock, count).ok());  // the file it already holds
        QCOMPARE(lock.path(), start);
        QCOMPARE(rows, 0);
    }

    void missingFileIsAnError() {
        QTemporaryDir dir;
        TableLock lock;
        QString error;
        QVERIFY(!lock.lock(dir.filePath("none.DB"), &error));
        QVERIFY(error.contains(QStringLiteral("none.DB")));
    }
};

QTEST_GUILESS_MAIN(TestTableLock)
#include "tst_table_lock.moc"
