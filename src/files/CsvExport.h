#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

#include "FileOperation.h"
#include "RecordRow.h"
#include "RowNotes.h"

// Comma-separated values for spreadsheets and scripts: UTF-8 without a byte-order mark, CR LF
// after every line, a field quoted only when it holds a comma, a quote or a line break. Each row
// carries its full local date and time, the unit in real symbols and the value as a plain number
// beside the text the meter showed.
namespace CsvExport {

// "No,Date and time,Value,Unit,AC/DC,AUTO/MANU,Number,Counts" with CR LF.
QByteArray headerLine();

// Same file operation as the text export: written beside `path`, renamed over it once complete.
// With notes a "Note" column follows the others.
FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress = {},
                 const RowNotes* notes = nullptr);

// A dated moment as the "Date and time" field has it: "2026-12-07T23:59:59.875+01:00".
std::string dateTimeText(int32_t day, int32_t timeMs, int32_t utcOffsetMin);

// The field as it stands, or in double quotes (inner quotes doubled) when it needs them.
void appendField(std::string& out, std::string_view text);

// ISO 8601 with milliseconds and the UTC offset, "2026-12-07T23:59:59.875+01:00"; for a row
// without a date the time of day alone, "23:59:59.875". The date and offset texts are formed
// again only when they change, which is once a day at most.
class DateTimeText {
public:
    void append(std::string& out, const RecordRow& row);

private:
    void remember(int32_t day, int32_t offset);

    int32_t day_ = kNoDay;
    int32_t offset_ = 0;
    std::string date_, offsetText_;
};

}  // namespace CsvExport
