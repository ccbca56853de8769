#include "DataFileDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "DataFiles.h"
#include "TextExport.h"

namespace DataFileDialogs {

void setUpOpenDialog(QFileDialog& dialog) {
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setNameFilter(DataFiles::openFilter());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
}

void setUpSaveDialog(QFileDialog& dialog) {
    dialog.setObjectName(QStringLiteral("SaveDialog2"));
    dialog.setNameFilter(DataFiles::saveFilter());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("xls"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) { dialog.setDefaultSuffix(defaultSuffixFor(filter)); });
}

QString defaultSuffixFor(const QString& filter) {
    const qsizetype start = filter.indexOf(QLatin1String("(*."));
    if (start < 0) return QStringLiteral("xls");
    const qsizetype end = filter.indexOf(u')', start);
    const QString suffix = filter.mid(start + 3, end < 0 ? -1 : end - start - 3);
    // a pattern like "*.*" or "*.d?" is no extension to add
    if (suffix.isEmpty() || suffix.contains(u'*') || suffix.contains(u'?') || suffix.contains(u' '))
        return QStringLiteral("xls");
    return suffix;
}

void showSaveResult(QWidget* parent, const QString& title, const QString& path, const FileResult& result) {
    if (result.status == FileResult::Cancelled) return;
    if (DataFiles::saveFormatFor(path) == DataFiles::SaveFormat::ParadoxTable) {
        if (!result.ok()) QMessageBox::critical(parent, title, result.error);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title,
                    result.ok() ? TextExport::successMessage(path) : TextExport::failureMessage(path),
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("SaveResult"));
    // the reason, under the message
    if (!result.ok()) box.setInformativeText(result.error);
    box.exec();
}

}  // namespace DataFileDialogs
