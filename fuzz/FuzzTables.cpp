// Paradox table files of any content through the reader that Open and the record table use.
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzEntries.h"
#include "ParadoxTable.h"

namespace FuzzEntries {

int paradoxTable(const uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    int64_t rows = 0;
    const FileResult result = ParadoxTable::readBytes(bytes, [&rows](const RecordRow& row) {
        ++rows;
        // texts in any code page arrive as UTF-8
        for (const std::string* text : {&row.dcAc, &row.value, &row.unit, &row.autoText}) {
            if (QString::fromStdString(*text).toStdString() != *text) {
                std::fprintf(stderr, "fuzz paradox: a text of row %lld is not UTF-8\n",
                             static_cast<long long>(rows));
                std::abort();
            }
        }
    });
    // the reader checks the whole file before it hands over a row: a failure comes with no rows
    // and a message, a success with the rows it counted
    const bool consistent = result.ok() ? result.rows == rows : (rows == 0 && !result.error.isEmpty());
    if (!consistent) {
        std::fprintf(stderr, "fuzz paradox: %s with %lld rows handed over, %lld counted\n",
                     result.ok() ? "success" : "failure", static_cast<long long>(rows),
                     static_cast<long long>(result.rows));
        std::abort();
    }
    return 0;
}

}  // namespace FuzzEntries
