#pragma once

#include <QString>
#include <memory>

#include "FileOperation.h"

class QProgressDialog;
class QWidget;

// The progress of a long open or save in a dialog that can be cancelled. The dialog appears only
// when the operation runs for more than half a second; a quick one shows nothing.
class FileProgressDialog {
public:
    FileProgressDialog(const QString& label, QWidget* parent);
    ~FileProgressDialog();

    // The callback to hand to the file operation; false once the user pressed Cancel.
    FileProgress callback();

private:
    std::unique_ptr<QProgressDialog> dialog_;
};
