#pragma once

#include <QLocale>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

#include "FileOperation.h"
#include "RecordRow.h"

// The tab-separated text of Save: a header line, then one line per row, fields joined by one
// TAB, every line ended by CR LF, no quoting. "Nval" is left out; the unit keeps its LCD symbol
// codes; the time of day is written in the system's time format with seconds. Plain 8-bit text
// in the system's encoding.
namespace TextExport {

// "No", "Time", "DC/AC", "Value", "Unit", "AUTO" joined by TABs, with CR LF.
QByteArray headerLine();

// Writes the text beside `path` and renames it over `path` once complete, so a cancelled or
// failed export leaves an earlier file of that name as it was.
FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress = {},
                 const QLocale& locale = QLocale::system());

// Appends one row's line, its line end included.
using RowFormatter = std::function<void(std::string& out, const RecordRow& row)>;

// The file operation under every text format: `header`, then one line per row as `appendRow`
// forms it, written beside `path` and renamed over it once complete, with progress and cancel.
FileResult writeRows(const QString& path, const RecordSource& rows, const FileProgress& progress,
                     std::string_view header, const RowFormatter& appendRow);

// The messages the window shows after the export, with the path as the user chose it.
QString successMessage(const QString& path);
QString failureMessage(const QString& path);

}  // namespace TextExport
