#include "TextExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringConverter>
#include <charconv>

#include "CodePage.h"
#include "SaveBesideFile.h"
#include "TimeOfDayFormat.h"

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("TextExport", text);
}

constexpr size_t kFlushSize = 1 << 20;

bool systemIsUtf8() {
    const char* name = QStringConverter::nameForEncoding(QStringConverter::System);
    return name && QByteArray(name).compare("UTF-8", Qt::CaseInsensitive) == 0;
}

}  // namespace

namespace TextExport {

QByteArray headerLine() {
    return QByteArrayLiteral("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n");
}

FileResult writeRows(const QString& path, const RecordSource& rows, const FileProgress& progress,
                     std::string_view header, const RowFormatter& appendRow) {
    const QString name = QDir::toNativeSeparators(path);
    SaveBesideFile file(path);
    auto failure = [&](const QString& why) {
        file.cancelWriting();
        return FileResult::failed(tr("Could not write %1: %2").arg(name, why));
    };
    if (!file.open(QIODevice::WriteOnly)) return failure(file.errorString());

    const int64_t total = rows.rowCount();
    ProgressTicker ticker(progress, total);
    if (!ticker.start()) {
        file.cancelWriting();
        return FileResult::cancelled();
    }
    std::string out;
    out.reserve(kFlushSize + 4096);
    out += header;
    for (int64_t i = 0; i < total; ++i) {
        appendRow(out, rows.row(i));
        if (out.size() >= kFlushSize) {
            if (file.write(out.data(), qint64(out.size())) != qint64(out.size()))
                return failure(file.errorString());
            out.clear();
        }
        if (!ticker.tick(i + 1)) {
            file.cancelWriting();
            return FileResult::cancelled();
        }
    }
    if (file.write(out.data(), qint64(out.size())) != qint64(out.size())) return failure(file.errorString());
    if (!file.commit()) return failure(file.errorString());
    ticker.finish();
    FileResult result;
    result.rows = total;
    return result;
}

FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress,
                 const QLocale& locale) {
    const TimeOfDayFormat timeFormat(locale);
    const bool utf8 = systemIsUtf8();
    auto appendText = [utf8](std::string& out, const std::string& text) {
        if (utf8 || CodePage::isAscii(text.data(), text.size()))
            out += text;
        else
            out += toSystemEncoding(QString::fromStdString(text));
    };
    const QByteArray header = headerLine();
    return writeRows(path, rows, progress, std::string_view(header.constData(), size_t(header.size())),
                     [&](std::string& out, const RecordRow& row) {
                         char number[16];
                         const auto end = std::to_chars(number, number + sizeof number, row.no).ptr;
                         out.append(number, size_t(end - number));
                         out += '\t';
                         timeFormat.append(out, row.timeMs);
                         out += '\t';
                         appendText(out, row.dcAc);
                         out += '\t';
                         appendText(out, row.value);
                         out += '\t';
                         appendText(out, row.unit);
                         out += '\t';
                         appendText(out, row.autoText);
                         out += "\r\n";
                     });
}

QString successMessage(const QString& path) {
    return QStringLiteral("save table to specified file: ") + path + QStringLiteral(" Scuss!");
}

QString failureMessage(const QString& path) {
    return QStringLiteral("Could not save table to specified file: ") + path;
}

}  // namespace TextExport
