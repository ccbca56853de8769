#include "FileProgressDialog.h"

#include <QProgressDialog>
#include <algorithm>

namespace {
constexpr int kSteps = 1000;
}

FileProgressDialog::FileProgressDialog(const QString& label, QWidget* parent)
    : dialog_(std::make_unique<QProgressDialog>(label, QProgressDialog::tr("Cancel"), 0, kSteps, parent)) {
    dialog_->setObjectName(QStringLiteral("FileProgress"));
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setMinimumDuration(500);
    dialog_->setAutoReset(false);
    dialog_->setAutoClose(false);
    dialog_->setValue(0);
}

FileProgressDialog::~FileProgressDialog() = default;

FileProgress FileProgressDialog::callback() {
    QProgressDialog* dialog = dialog_.get();
    return [dialog](int64_t done, int64_t total) {
        if (dialog->wasCanceled()) return false;
        const int step = total > 0 ? int(done * kSteps / total) : kSteps;
        // once shown, a new value lets the dialog hear its Cancel button
        dialog->setValue(std::clamp(step, 0, kSteps));
        return !dialog->wasCanceled();
    };
}
