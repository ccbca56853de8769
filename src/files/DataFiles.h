#pragma once

#include <QString>

#include "FileOperation.h"
#include "ParadoxTable.h"
#include "RecordRow.h"
#include "RowNotes.h"
#include "TableLock.h"

// Which file Save writes, decided from the name the user chose, and the dialogs' filters.
namespace DataFiles {

enum class SaveFormat { ParadoxTable, Text, Csv, Xlsx };

// The extension of the file name: from its last "." to the end, dot included, case kept;
// empty when the name (after the last "/", "\" or ":") has no dot.
QString extensionOf(const QString& path);

// Exactly ".db" (lower case) gives a Paradox table; ".csv" in any case the comma-separated values
// with dates, ".xlsx" in any case a spreadsheet workbook; every other name, ".DB" and ".xls"
// included, the tab-separated text.
SaveFormat saveFormatFor(const QString& path);

// The name with ".xls" added when it has no extension, as the Save dialog does.
QString withDefaultExtension(const QString& path, const QString& extension = QStringLiteral("xls"));

// Writes `rows` in the format the name asks for. The CSV file and the workbook carry `notes` in a
// column of their own when there are any.
FileResult save(const QString& path, const RecordSource& rows, const FileProgress& progress = {},
                const RowNotes* notes = nullptr);

// Opens a table for exclusive use: locks the file, then reads its rows into `sink`. With
// `createWhenMissing` a missing file is first created as an empty record table. On success
// `lock` holds the new file (and lets go of the one it held); on failure `lock` is untouched,
// so the table open before stays locked. Reopening the file `lock` already holds reuses it.
FileResult openTable(const QString& path, TableLock& lock, const ParadoxTable::RowSink& sink,
                     const FileProgress& progress = {}, bool createWhenMissing = false);

// Dialog filters in Qt's notation. The table filter lists .db and .DB names alike; "All" means
// every name, with or without a dot.
QString openFilter();
QString saveFilter();

}  // namespace DataFiles
