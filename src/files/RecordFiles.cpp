#include "RecordFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "CompactRows.h"
#include "DataFiles.h"
#include "RecordStore.h"
#include "RecordTable.h"

RecordFiles::RecordFiles(RecordStore& store, RecordTable& table) : store_(store), table_(table) {}

FileResult RecordFiles::openAtStart(const std::string& name, const QString& path) {
    CompactRows rows;
    const FileResult r = DataFiles::openTable(
        path, lock_, [&rows](const RecordRow& row) { rows.append(row); }, {}, true);
    if (!r.ok()) return r;
    table_.replaceRows(name, rows);
    store_.markSaved();
    return r;
}

FileResult RecordFiles::open(const QString& chosen, const FileProgress& progress) {
    // The name is opened as chosen; only where file names ignore case is it upper-cased, which
    // there names the same file.
#ifdef Q_OS_WIN
    const QString path = chosen.toUpper();
#else
    const QString& path = chosen;
#endif
    CompactRows rows;
    const FileResult r = DataFiles::openTable(
        path, lock_, [&rows](const RecordRow& row) { rows.append(row); }, progress);
    if (!r.ok()) return r;
    table_.replaceRows(path.toStdString(), rows);
    store_.markSaved();
    return r;
}

QString RecordFiles::nothingToSaveText() {
    return QCoreApplication::translate("RecordFiles", "No record table is open: there is nothing to save.");
}

FileResult RecordFiles::save(const QString& path, const FileProgress& progress) {
    // a header-only file would pass for a saved run
    if (!table_.isOpen()) return FileResult::failed(nothingToSaveText());
    const bool ownFile = isOpenTableFile(path);
    const bool asTable = DataFiles::saveFormatFor(path) == DataFiles::SaveFormat::ParadoxTable;
    if (ownFile && !asTable) {
        // the text would take the place of the table the program opens on its next start
        return FileResult::failed(
            QCoreApplication::translate("RecordFiles",
                                        "%1 is the file of the open record table; save the "
                                        "text under another name.")
                .arg(QDir::toNativeSeparators(path)));
    }
    if (!ownFile && TableLock::isHeldElsewhere(path)) {
        // replacing it would leave the program that has it open on a file that is gone
        return FileResult::failed(
            QCoreApplication::translate("RecordFiles",
                                        "Cannot save to %1: the table is in use by another "
                                        "program.")
                .arg(QDir::toNativeSeparators(path)));
    }
    // readings that arrive while the rows are written (the progress dialog lets the line be
    // read) are not in the file and stay unsaved
    const int64_t rows = table_.rowCount();
    const FileResult r = DataFiles::save(path, table_, progress);
    if (!r.ok()) return r;
    // the new file was renamed over the locked one, which the lock still holds: lock the new one
    if (ownFile) lock_.lock(lock_.path());
    store_.markSaved(rows);
    return r;
}

bool RecordFiles::isOpenTableFile(const QString& path) const {
    if (!lock_.isLocked()) return false;
    const QFileInfo target(path);
    return target.exists() && target.canonicalFilePath() == QFileInfo(lock_.path()).canonicalFilePath();
}
