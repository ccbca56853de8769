#include "CsvExport.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "LocalClock.h"
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

void appendCounts(std::string& out, double counts) {
    if (!std::isfinite(counts)) return;
    if (counts == 0) counts = 0;  // no "-0"
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, counts).ptr;
    out.append(text, size_t(end - text));
}

}  // namespace

namespace CsvExport {

QByteArray headerLine() {
    return QByteArrayLiteral("No,Date and time,Value,Unit,AC/DC,AUTO/MANU,Number,Counts\r\n");
}

void appendDateTime(std::string& out, int32_t day, int32_t timeMs, int32_t utcOffsetMin) {
    // a time beyond the day (only a damaged row could hold one) still reads as a time of day
    const int32_t ms = (timeMs % kDayMs + kDayMs) % kDayMs;
    if (day != kNoDay) {
        const CivilDate date = civilDate(day);
        appendDigits(out, date.year, 4);
        out += '-';
        appendDigits(out, date.month, 2);
        out += '-';
        appendDigits(out, date.day, 2);
        out += 'T';
    }
    appendDigits(out, ms / 3600000, 2);
    out += ':';
    appendDigits(out, ms / 60000 % 60, 2);
    out += ':';
    appendDigits(out, ms / 1000 % 60, 2);
    out += '.';
    appendDigits(out, ms % 1000, 3);
    if (day == kNoDay) return;
    out += utcOffsetMin < 0 ? '-' : '+';
    const int32_t offset = std::abs(utcOffsetMin);
    appendDigits(out, offset / 60, 2);
    out += ':';
    appendDigits(out, offset % 60, 2);
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

FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress) {
    LastConversion units, numbers;
    const QByteArray header = headerLine();
    return TextExport::writeRows(
        path, rows, progress, std::string_view(header.constData(), size_t(header.size())),
        [&](std::string& out, const RecordRow& row) {
            char number[16];
            const auto end = std::to_chars(number, number + sizeof number, row.no).ptr;
            out.append(number, size_t(end - number));
            out += ',';
            appendDateTime(out, row.day, row.timeMs, row.utcOffsetMin);
            out += ',';
            appendField(out, row.value);
            out += ',';
            appendField(
                out, units.of(row.unit, [](const std::string& u) { return UnitSymbols::realUnitText(u); }));
            out += ',';
            appendField(out, row.dcAc);
            out += ',';
            appendField(out, row.autoText);
            out += ',';
            out += numbers.of(row.value, [](const std::string& v) { return UnitSymbols::plainNumber(v); });
            out += ',';
            appendCounts(out, row.nval);
            out += "\r\n";
        });
}

}  // namespace CsvExport
