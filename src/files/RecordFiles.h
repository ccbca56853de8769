#pragma once

#include <QString>
#include <string>

#include "FileOperation.h"
#include "TableLock.h"

class RecordStore;
class RecordTable;

// Open and Save of the record table, and the table file it is open on. That file is held for
// exclusive use (locked) for as long as the table is open on it, so a second program started in
// the same folder cannot take it.
class RecordFiles {
public:
    RecordFiles(RecordStore& store, RecordTable& table);

    // Start-up: opens the table `name` on the file `path`, creating it empty when it is missing.
    // On failure the table stays closed: readings are decoded but not stored.
    FileResult openAtStart(const std::string& name, const QString& path);

    // Reads `path` into a fresh table; only when the whole file has been read does it take the
    // place of the open table and its rows, and the file's lock that of the old one. On failure
    // or cancel the open table stays as it was. The store's counters are not touched, so new
    // readings are numbered on from its running number.
    FileResult open(const QString& path, const FileProgress& progress = {});

    // Writes the table's rows to `path`: a Paradox table for a name ending in exactly ".db",
    // CSV with dates for ".csv", the tab-separated text for any other. The rows written count
    // as saved.
    FileResult save(const QString& path, const FileProgress& progress = {});

    // Why Save refuses when no table is open (the start-up table was not opened, or another
    // program has it).
    static QString nothingToSaveText();

    // The file the table is open on; empty when it is open on none.
    QString filePath() const { return lock_.path(); }

private:
    bool isOpenTableFile(const QString& path) const;

    RecordStore& store_;
    RecordTable& table_;
    TableLock lock_;
};
