#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QString>
#include <functional>
#include <memory>

#include "RecordSnapshot.h"
#include "ReportLayout.h"

class QAction;
class QPrinter;
class QWidget;

// The print preview of the report. It copies the rows when it is made, so the pages stay those of
// that moment while readings keep arriving; printing goes through the preview's print dialog, and
// a "Save as PDF" action in its toolbar writes the same pages to a file.
class ReportPreview : public QObject {
    Q_OBJECT

public:
    ReportPreview(const RecordSource& rows, QWidget* parent = nullptr);
    ~ReportPreview() override;

    // More pages than the report of a full 100,000-row table are laid out under a progress dialog
    // that can be cancelled; the preview then shows the pages laid out until the cancel.
    static const int kPagesWithoutProgress;
    int pagesWithoutProgress = kPagesWithoutProgress;

    QPrintPreviewDialog* dialog() const { return dialog_.data(); }
    QAction* savePdfAction() const { return savePdf_; }
    const RecordSnapshot& rows() const { return rows_; }

    // Shows the preview and returns when it is closed.
    int exec();

    // Asks for the PDF's file name; an empty answer means the user cancelled.
    std::function<QString(QWidget* parent)> chooseFile;
    // Tells the user why a PDF was not written.
    std::function<void(QWidget* parent, const QString& message)> showError;

    // The glyph of the Print button: a small printer with a sheet in it.
    static QIcon printIcon();

    // Pages of `printer` to lay out: its page range when one is chosen, else all (0-based).
    static std::pair<int, int> pageRange(const QPrinter& printer, int pageCount);

private:
    void paint(QPrinter* printer);
    void savePdf();
    ReportLayout::Progress progressFor(int pages, const QString& label);

    RecordSnapshot rows_;
    ReportLayout layout_;
    std::unique_ptr<QPrinter> printer_;
    // the dialog is a child of the parent window, which may go first
    QPointer<QPrintPreviewDialog> dialog_;
    QAction* savePdf_ = nullptr;
    std::unique_ptr<class QProgressDialog> progress_;
};
