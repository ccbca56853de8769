#pragma once

#include <QString>
#include <cstdint>

#include "FileOperation.h"
#include "RecordRow.h"
#include "RowNotes.h"

// Spreadsheet workbooks (.xlsx) of the recorded rows: one sheet "Readings" with the header row
// frozen, the row number, date and time, value and counts as numbers, the date and time as a
// date-time cell, the unit in a column of its own and the text the meter showed beside the
// number. Written row by row to a temporary file (memory stays the same however many rows),
// beside the target and renamed over it once complete. A sheet holds at most 1,048,576 rows;
// more go on to "Readings 2", "Readings 3" and so on, each with its header.
namespace XlsxExport {

FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress = {},
                 const RowNotes* notes = nullptr);

// A local day and time of day as a spreadsheet's date-time number: days since 1899-12-30.
double serialOf(int32_t day, int32_t timeMs);

}  // namespace XlsxExport
