#pragma once

#include <QString>

#include "FileOperation.h"

class QFileDialog;
class QWidget;

// The file dialogs of Open and Save as the window shows them, and the message after a save.
namespace DataFileDialogs {

// OpenDialog1: an existing table file, .DB and .db names alike.
void setUpOpenDialog(QFileDialog& dialog);

// SaveDialog2: asks before replacing a file; a name typed without an extension gets the chosen
// type's ("xls" for the first type and for all files).
void setUpSaveDialog(QFileDialog& dialog);

// The extension the Save dialog adds under a filter such as "DB File(*.db)"; "xls" when the
// filter names none.
QString defaultSuffixFor(const QString& filter);

// After a save: the text export's plain message (success or failure, with the path as chosen),
// or for a table the error alone. Nothing after a cancel or a table written.
void showSaveResult(QWidget* parent, const QString& title, const QString& path, const FileResult& result);

}  // namespace DataFileDialogs
