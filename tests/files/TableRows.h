#pragma once

// Every row of a table file, read with our own reader.

#include <QString>
#include <QtGlobal>
#include <vector>

#include "ParadoxTable.h"

// The rows of the table at `path`. The reader's result goes to `result` when one is given;
// otherwise a failed read is warned about and gives the rows read before it.
inline std::vector<RecordRow> readTable(const QString& path, FileResult* result = nullptr) {
    std::vector<RecordRow> rows;
    const FileResult r = ParadoxTable::read(path, [&rows](const RecordRow& row) { rows.push_back(row); });
    if (result)
        *result = r;
    else if (!r.ok())
        qWarning("%s", qPrintable(r.error));
    return rows;
}
