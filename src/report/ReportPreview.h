#pragma once

#include <QDialog>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "ReportLayout.h"

class QAction;
class QComboBox;
class QLabel;
class QPrinter;
class QSpinBox;
class QToolBar;
class QWidget;
class ReportPageView;

// The print preview of the report. It takes a snapshot of the rows when it is made, so the pages
// stay those of that moment while readings keep arriving, and it lays out only the pages on
// screen. Print goes through the system's print dialog; "Save as PDF" writes the same pages to a
// file. Both send the pages one at a time.
class ReportPreview : public QObject {
    Q_OBJECT

public:
    ReportPreview(const RecordSource& rows, QWidget* parent = nullptr);
    ~ReportPreview() override;

    QDialog* dialog() const { return dialog_.data(); }
    ReportPageView* view() const { return view_; }
    QAction* printAction() const { return print_; }
    QAction* savePdfAction() const { return savePdf_; }
    const RecordSource& rows() const { return *rows_; }
    // The line under the pages: what the last Save as PDF wrote, or why it wrote nothing.
    QString statusText() const;

    // Shows the preview and returns when it is closed.
    int exec();

    // Asks for the PDF's file name; an empty answer means the user cancelled.
    std::function<QString(QWidget* parent)> chooseFile;
    // Asks for the printer and the pages; false means the user cancelled.
    std::function<bool(QPrinter& printer, QWidget* parent)> choosePrinter;
    // Tells the user why a PDF or a printed file was not written.
    std::function<void(QWidget* parent, const QString& message)> showError;

    // Prints the pages `printer` asks for, one at a time, under a progress dialog that can be
    // cancelled. Returns the number of pages printed.
    int print(QPrinter& printer);

    // The glyph of the Print button: a small printer with a sheet in it.
    static QIcon printIcon();

    // Pages of `printer` to lay out: its page range when one is chosen, else all (0-based).
    static std::pair<int, int> pageRange(const QPrinter& printer, int pageCount);

private:
    void buildToolBar(QToolBar* bar);
    QAction* addAction(QToolBar* bar, const QString& text, const QIcon& icon, const QKeySequence& key);
    void printClicked();
    int printFailed(const QString& target, const QString& reason);
    void savePdf();
    void showPage(int page);
    void showZoom(double zoom);
    void fitOpeningSize(QToolBar* bar);

    std::shared_ptr<const RecordSource> rows_;
    ReportLayout layout_;
    std::unique_ptr<QPrinter> printer_;
    // the dialog is a child of the parent window, which may go first
    QPointer<QDialog> dialog_;
    ReportPageView* view_ = nullptr;
    QSpinBox* pageBox_ = nullptr;
    QLabel* pageTotal_ = nullptr;
    QLabel* status_ = nullptr;
    QComboBox* zoomBox_ = nullptr;
    QAction* print_ = nullptr;
    QAction* savePdf_ = nullptr;
    QAction* onePage_ = nullptr;
    QAction* facing_ = nullptr;
};
