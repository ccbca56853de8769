#include "ParadoxTable.h"
#include "TableLock.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestTableLock : public QObject {
    Q_OBJECT

private slots:
    void secondUserIsRefusedUntilTheFirstLetsGo()
    {
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

    void missingFileIsAnError()
    {
        QTemporaryDir dir;
        TableLock lock;
        QString error;
        QVERIFY(!lock.lock(dir.filePath("none.DB"), &error));
        QVERIFY(error.contains(QStringLiteral("none.DB")));
    }
};

QTEST_GUILESS_MAIN(TestTableLock)
#include "tst_table_lock.moc"
