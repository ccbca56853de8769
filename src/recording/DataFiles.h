#pragma once

#include "FileOperation.h"
#include "RecordRow.h"

#include <QString>

// Which file Save writes, decided from the name the user chose, and the dialogs' filters.
namespace DataFiles {

enum class SaveFormat { ParadoxTable, Text };

// The extension of the file name: from its last "." to the end, dot included, case kept;
// empty when the name (after the last "/", "\" or ":") has no dot.
QString extensionOf(const QString& path);

// Exactly ".db" (lower case) gives a Paradox table; every other name, ".DB" included, the text.
SaveFormat saveFormatFor(const QString& path);

// The name with ".xls" added when it has no extension, as the Save dialog does.
QString withDefaultExtension(const QString& path, const QString& extension = QStringLiteral("xls"));

// Writes `rows` in the format the name asks for.
FileResult save(const QString& path, const RecordSource& rows, const FileProgress& progress = {});

// Dialog filters in Qt's notation. The table filter lists .db and .DB names alike.
QString openFilter();
QString saveFilter();

}  // namespace DataFiles
