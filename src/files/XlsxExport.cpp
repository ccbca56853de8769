#include "XlsxExport.h"

#include <xlsxwriter.h>

#include <QDir>
#include <memory>
#include <string>

#include "PlainFile.h"
#include "SaveBesideFile.h"
#include "UnitSymbols.h"

namespace {

constexpr int32_t kDayMs = 86400000;
// Day 0 of the spreadsheet's dates is 1899-12-30, 25569 days before 1970-01-01.
constexpr double kEpochSerial = 25569.0;
constexpr lxw_row_t kSheetRows = 1048576;

enum Column : lxw_col_t { No, DateTime, Value, Unit, AcDc, Auto, Number, Counts, Note };
const char* const kHeader[] = {"No",        "Date and time", "Value",  "Unit", "AC/DC",
                               "AUTO/MANU", "Number",        "Counts", "Note"};

QString errorText(lxw_error e) {
    return QString::fromUtf8(lxw_strerror(e));
}

// One workbook being written: its sheets, formats and the row within the current sheet.
class Book {
public:
    Book(const std::string& file, bool notes) : notes_(notes) {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.use_zip64 = LXW_TRUE;
        book_ = workbook_new_opt(file.c_str(), &options);
        if (!book_) return;
        dated_ = workbook_add_format(book_);
        format_set_num_format(dated_, "yyyy-mm-dd hh:mm:ss.000");
        timeOfDay_ = workbook_add_format(book_);
        format_set_num_format(timeOfDay_, "hh:mm:ss.000");
        bold_ = workbook_add_format(book_);
        format_set_bold(bold_);
    }
    // A book not closed yet is closed here, written to its file; the caller removes that.
    ~Book() {
        if (book_) workbook_close(book_);
    }
    bool opened() const { return book_ != nullptr; }

    lxw_error add(const RecordRow& r, const std::string* note) {
        if (!sheet_ || row_ == kSheetRows) {
            if (const lxw_error e = newSheet()) return e;
        }
        lxw_error e = worksheet_write_number(sheet_, row_, No, r.no, nullptr);
        // a row read from a table without dates has its time of day alone
        const int32_t ms = (r.timeMs % kDayMs + kDayMs) % kDayMs;
        if (!e)
            e = r.day == kNoDay
                    ? worksheet_write_number(sheet_, row_, DateTime, ms / double(kDayMs), timeOfDay_)
                    : dateTime(r.day, ms);
        if (!e) e = text(Value, r.value);
        if (!e) e = text(Unit, unitOf(r.unit));
        if (!e) e = text(AcDc, r.dcAc);
        if (!e) e = text(Auto, r.autoText);
        const std::string plain = UnitSymbols::plainNumber(r.value);
        bool isNumber = false;
        const double number = QByteArray::fromStdString(plain).toDouble(&isNumber);
        if (!e && isNumber) e = worksheet_write_number(sheet_, row_, Number, number, nullptr);
        if (!e && r.nval == r.nval) e = worksheet_write_number(sheet_, row_, Counts, r.nval, nullptr);
        if (!e && note && !note->empty()) e = text(Note, *note);
        ++row_;
        return e;
    }

    lxw_error close() {
        lxw_workbook* book = book_;
        book_ = nullptr;
        return workbook_close(book);
    }

private:
    lxw_error newSheet() {
        const std::string name =
            "Readings" + (sheets_ == 0 ? std::string() : " " + std::to_string(sheets_ + 1));
        sheet_ = workbook_add_worksheet(book_, name.c_str());
        if (!sheet_) return LXW_ERROR_MEMORY_MALLOC_FAILED;
        ++sheets_;
        worksheet_set_column(sheet_, DateTime, DateTime, 24, nullptr);
        worksheet_set_column(sheet_, Value, Number, 10, nullptr);
        worksheet_freeze_panes(sheet_, 1, 0);
        const int columns = notes_ ? Note + 1 : Note;
        for (int c = 0; c < columns; ++c) {
            if (const lxw_error e = worksheet_write_string(sheet_, 0, lxw_col_t(c), kHeader[c], bold_))
                return e;
        }
        row_ = 1;
        return LXW_NO_ERROR;
    }
    lxw_error dateTime(int32_t day, int32_t ms) {
        return worksheet_write_number(sheet_, row_, DateTime, XlsxExport::serialOf(day, ms), dated_);
    }
    lxw_error text(Column c, const std::string& s) {
        return s.empty() ? LXW_NO_ERROR : worksheet_write_string(sheet_, row_, c, s.c_str(), nullptr);
    }
    const std::string& unitOf(const std::string& lcd) {
        if (lcd != lastLcdUnit_ || !unitKnown_) {
            lastLcdUnit_ = lcd;
            lastUnit_ = UnitSymbols::realUnitText(lcd);
            unitKnown_ = true;
        }
        return lastUnit_;
    }

    lxw_workbook* book_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    lxw_format* dated_ = nullptr;
    lxw_format* timeOfDay_ = nullptr;
    lxw_format* bold_ = nullptr;
    lxw_row_t row_ = 0;
    int sheets_ = 0;
    bool notes_;
    bool unitKnown_ = false;
    std::string lastLcdUnit_, lastUnit_;
};

}  // namespace

namespace XlsxExport {

double serialOf(int32_t day, int32_t timeMs) {
    return kEpochSerial + day + timeMs / double(kDayMs);
}

FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress,
                 const RowNotes* notes) {
    const QString name = QDir::toNativeSeparators(path);
    SaveBesideFile file(path);
    std::unique_ptr<Book> book;
    // the book is done with its file before the file goes
    auto cancel = [&] {
        book.reset();
        file.cancelWriting();
    };
    auto failure = [&](const QString& why) {
        cancel();
        return FileResult::failed(QStringLiteral("Could not write %1: %2").arg(name, why));
    };
    if (!file.open(QIODevice::WriteOnly)) return failure(file.errorString());
    const int64_t total = rows.rowCount();
    ProgressTicker ticker(progress, total);
    if (!ticker.start()) {
        cancel();
        return FileResult::cancelled();
    }
    const bool noted = notes && !notes->empty();
    book = std::make_unique<Book>(PlainFile::toNative(file.writtenPath()).toStdString(), noted);
    if (!book->opened()) return failure(QStringLiteral("the workbook could not be started"));
    for (int64_t i = 0; i < total; ++i) {
        const std::string* note = nullptr;
        if (noted) {
            const auto at = notes->find(i);
            if (at != notes->end()) note = &at->second;
        }
        if (const lxw_error e = book->add(rows.row(i), note)) return failure(errorText(e));
        if (!ticker.tick(i + 1)) {
            cancel();
            return FileResult::cancelled();
        }
    }
    if (const lxw_error e = book->close()) return failure(errorText(e));
    if (!file.commit()) return failure(file.errorString());
    ticker.finish();
    FileResult result;
    result.rows = total;
    return result;
}

}  // namespace XlsxExport
