#include "DataFiles.h"

#include <QFileInfo>

#include "CsvExport.h"
#include "TextExport.h"
#include "XlsxExport.h"

namespace DataFiles {

QString extensionOf(const QString& path) {
    const qsizetype nameStart =
        std::max({path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'), path.lastIndexOf(u':')}) + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot >= nameStart ? path.mid(dot) : QString();
}

SaveFormat saveFormatFor(const QString& path) {
    const QString extension = extensionOf(path);
    if (extension == QLatin1String(".db")) return SaveFormat::ParadoxTable;
    if (extension.compare(QLatin1String(".csv"), Qt::CaseInsensitive) == 0) return SaveFormat::Csv;
    if (extension.compare(QLatin1String(".xlsx"), Qt::CaseInsensitive) == 0) return SaveFormat::Xlsx;
    return SaveFormat::Text;
}

QString withDefaultExtension(const QString& path, const QString& extension) {
    if (path.isEmpty() || !extensionOf(path).isEmpty()) return path;
    return path + u'.' + extension;
}

FileResult save(const QString& path, const RecordSource& rows, const FileProgress& progress,
                const RowNotes* notes) {
    switch (saveFormatFor(path)) {
        case SaveFormat::ParadoxTable:
            return ParadoxTable::write(path, rows, progress);
        case SaveFormat::Csv:
            return CsvExport::write(path, rows, progress, notes);
        case SaveFormat::Xlsx:
            return XlsxExport::write(path, rows, progress, notes);
        case SaveFormat::Text:
            break;
    }
    return TextExport::write(path, rows, progress);
}

FileResult openTable(const QString& path, TableLock& lock, const ParadoxTable::RowSink& sink,
                     const FileProgress& progress, bool createWhenMissing) {
    if (createWhenMissing && !QFileInfo::exists(path)) {
        const FileResult created = ParadoxTable::createEmpty(path);
        if (!created.ok()) return created;
    }
    const bool alreadyHeld =
        lock.isLocked() && QFileInfo::exists(path) &&
        QFileInfo(lock.path()).canonicalFilePath() == QFileInfo(path).canonicalFilePath();
    TableLock fresh;
    if (!alreadyHeld) {
        QString error;
        if (!fresh.lock(path, &error)) return FileResult::failed(error);
    }
    const FileResult result = ParadoxTable::read(path, sink, progress);
    if (result.ok() && !alreadyHeld) lock = std::move(fresh);
    return result;
}

QString openFilter() {
    return QStringLiteral("access data files (*.DB *.db *.Db *.dB);;All files (*)");
}

QString saveFilter() {
    return QStringLiteral(
        "Excel File(*.xls);;DB File(*.db);;Txt File(*.txt);;All File(*);;"
        "CSV with date and time (*.csv);;Excel workbook (*.xlsx)");
}

}  // namespace DataFiles
