#include "CsvExport.h"

#include <charconv>
#include <cstdlib>

#include "LocalClock.h"
#include "NumberText.h"
#include "TextExport.h"
#include "UnitSymbols.h"

namespace {

constexpr int32_t kDayMs = 86400000;

void appendDigits(std::string& out, int64_t value, int digits) {
    if (value < 0) {
        out += '-';
        value = -value;
    }
    char text[24];
    int n = 0;
    for (; n < digits || value > 0; ++n, value /= 10) text[n] = char('0' + value % 10);
    while (n > 0) out += text[--n];
}

// The last input and what it gave: rows repeat their unit and value texts, so most rows take
// the answer of the row before.
struct LastConversion {
    std::string from;
    std::string to;
    bool valid = false;

    template <typename Convert>
    const std::string& of(const std::string& text, Convert convert) {
        if (!valid || text != from) {
            from = text;
            to = convert(text);
            valid = true;
        }
        return to;
    }
};

void putTwo(char* p, int32_t v) {
    p[0] = char('0' + v / 10);
    p[1] = char('0' + v % 10);
}

}  // namespace

namespace CsvExport {

void DateTimeText::append(std::string& out, const RecordRow& row) {
    const bool dated = row.day != kNoDay;
    if (dated && (row.day != day_ || row.utcOffsetMin != offset_)) remember(row.day, row.utcOffsetMin);
    if (dated) out += date_;
    // a time beyond the day (only a damaged row could hold one) still reads as a time of day
    const int32_t ms = (row.timeMs % kDayMs + kDayMs) % kDayMs;
    char t[12] = {0, 0, ':', 0, 0, ':', 0, 0, '.', 0, 0, 0};
    putTwo(t, ms / 3600000);
    putTwo(t + 3, ms / 60000 % 60);
    putTwo(t + 6, ms / 1000 % 60);
    t[9] = char('0' + ms % 1000 / 100);
    putTwo(t + 10, ms % 100);
    out.append(t, sizeof t);
    if (dated) out += offsetText_;
}

void DateTimeText::remember(int32_t day, int32_t offset) {
    day_ = day;
    offset_ = offset;
    const CivilDate date = civilDate(day);
    date_.clear();
    appendDigits(date_, date.year, 4);
    date_ += '-';
    appendDigits(date_, date.month, 2);
    date_ += '-';
    appendDigits(date_, date.day, 2);
    date_ += 'T';
    offsetText_.assign(1, offset < 0 ? '-' : '+');
    appendDigits(offsetText_, std::abs(offset) / 60, 2);
    offsetText_ += ':';
    appendDigits(offsetText_, std::abs(offset) % 60, 2);
}

std::string dateTimeText(int32_t day, int32_t timeMs, int32_t utcOffsetMin) {
    RecordRow row;
    row.day = day;
    row.timeMs = timeMs;
    row.utcOffsetMin = utcOffsetMin;
    std::string out;
    DateTimeText().append(out, row);
    return out;
}

QByteArray headerLine() {
    return QByteArrayLiteral("No,Date and time,Value,Unit,AC/DC,AUTO/MANU,Number,Counts\r\n");
}

void appendField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress,
                 const RowNotes* notes) {
    LastConversion values, units, numbers;
    DateTimeText dateTime;
    auto quoted = [](const std::string& text) {
        std::string field;
        appendField(field, text);
        return field;
    };
    const bool noted = notes && !notes->empty();
    QByteArray header = headerLine();
    if (noted) header.insert(header.size() - 2, ",Note");
    int64_t index = 0;
    return TextExport::writeRows(
        path, rows, progress, std::string_view(header.constData(), size_t(header.size())),
        [&](std::string& out, const RecordRow& row) {
            char number[16];
            const auto end = std::to_chars(number, number + sizeof number, row.no).ptr;
            out.append(number, size_t(end - number));
            out += ',';
            dateTime.append(out, row);
            out += ',';
            out += values.of(row.value, quoted);
            out += ',';
            out += units.of(row.unit,
                            [&](const std::string& u) { return quoted(UnitSymbols::realUnitText(u)); });
            out += ',';
            appendField(out, row.dcAc);
            out += ',';
            appendField(out, row.autoText);
            out += ',';
            out += numbers.of(row.value, [](const std::string& v) { return UnitSymbols::plainNumber(v); });
            out += ',';
            NumberText::append(out, row.nval);
            if (noted) {
                out += ',';
                const auto at = notes->find(index);
                if (at != notes->end()) appendField(out, at->second);
            }
            ++index;
            out += "\r\n";
        });
}

}  // namespace CsvExport
