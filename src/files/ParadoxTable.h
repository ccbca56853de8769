#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "FileOperation.h"
#include "RecordRow.h"

// Paradox table files (.DB) with the record layout: the record table, Open and the Paradox copy
// of Save.
//
// Tables written here are level 7 tables without a key, code page 1252, with the fields in the
// order the store names them: "no" long integer, "time" time of day (milliseconds since
// midnight), "DC/AC", "value", "unit" and "Auto" alpha, "Nval" number. The data blocks are
// 4 KiB, or 16 or 32 KiB when the rows need them: a table holds at most 65,535 blocks.
//
// Reading accepts any table that has the seven fields (names compared without regard to case,
// in any order, other fields ignored) with types that hold their values, from Paradox 3 to 7.
namespace ParadoxTable {

// Widths of the alpha fields of written tables. They hold the longest texts the decoders
// form; a row with a longer text (from a table written elsewhere) widens its field.
struct Widths {
    int dcAc = 4;
    int value = 12;
    int unit = 16;
    int autoText = 4;
};

// Bytes of one row with these widths.
int recordSize(const Widths& widths);

// The most rows a written table with these widths can hold.
int64_t capacity(const Widths& widths = Widths());

// Writes all rows of `rows` as a new table at `path`, replacing a file of that name only when
// the whole table has been written (the table is written beside it, then renamed). A table
// that cannot hold the rows is an error and nothing is written.
FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress = {});

// An empty table with the record layout, for a record table that does not exist yet.
FileResult createEmpty(const QString& path);

// Receives the rows of a table in table order.
using RowSink = std::function<void(const RecordRow&)>;

// Reads the table at `path`. The file is checked as a whole before the first row is handed
// over, so a damaged or foreign file fails without rows; only a read error of the device
// midway can fail after some rows.
FileResult read(const QString& path, const RowSink& sink, const FileProgress& progress = {});

// The same on a file's bytes in memory.
FileResult readBytes(const QByteArray& bytes, const RowSink& sink, const FileProgress& progress = {});

}  // namespace ParadoxTable
