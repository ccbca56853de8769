#include "ReportPreview.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QStyle>
#include <QToolBar>

const int ReportPreview::kPagesWithoutProgress = ReportLayout::pageCountFor(100000);

ReportPreview::ReportPreview(const RecordSource& rows, QWidget* parent)
    : layout_(rows_), printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    rows_.take(rows);
    printer_->setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                    QMarginsF(ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin),
                    QPageLayout::Millimeter));
    printer_->setCopyCount(1);
    printer_->setDuplex(QPrinter::DuplexNone);
    printer_->setDocName(ReportLayout::kTitle);

    dialog_ = new QPrintPreviewDialog(printer_.get(), parent);
    dialog_->setWindowTitle(tr("Print Preview"));
    connect(dialog_.data(), &QPrintPreviewDialog::paintRequested, this, &ReportPreview::paint);

    savePdf_ = new QAction(dialog_->style()->standardIcon(QStyle::SP_DialogSaveButton), tr("Save as PDF"),
                           dialog_.data());
    savePdf_->setObjectName(QStringLiteral("savePdf"));
    savePdf_->setToolTip(tr("Save the report as a PDF file"));
    savePdf_->setEnabled(layout_.pageCount() > 0);
    connect(savePdf_, &QAction::triggered, this, &ReportPreview::savePdf);
    if (auto* toolbar = dialog_->findChild<QToolBar*>()) {
        toolbar->addSeparator();
        toolbar->addAction(savePdf_);
    }

    chooseFile = [](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, tr("Save as PDF"), QString(), tr("PDF files (*.pdf)"));
    };
    showError = [](QWidget* owner, const QString& message) {
        QMessageBox::warning(owner, tr("Save as PDF"), message);
    };
}

ReportPreview::~ReportPreview() {
    delete dialog_.data();
}

int ReportPreview::exec() {
    return dialog_->exec();
}

std::pair<int, int> ReportPreview::pageRange(const QPrinter& printer, int pageCount) {
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        const int to = printer.toPage() > 0 ? printer.toPage() : pageCount;
        return {printer.fromPage() - 1, std::min(to, pageCount) - 1};
    }
    return {0, pageCount - 1};
}

ReportLayout::Progress ReportPreview::progressFor(int pages, const QString& label) {
    if (pages <= pagesWithoutProgress) return {};
    progress_ = std::make_unique<QProgressDialog>(label, tr("Cancel"), 0, pages, dialog_.data());
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(0);
    return [this](int done, int) {
        // setValue lets the dialog see the Cancel button while the pages are laid out
        progress_->setValue(done);
        return !progress_->wasCanceled();
    };
}

void ReportPreview::paint(QPrinter* printer) {
    printer->setFullPage(false);
    const auto [first, last] = pageRange(*printer, layout_.pageCount());
    const ReportLayout::Progress progress = progressFor(last - first + 1, tr("Laying out the report..."));
    // The progress dialog lets events through while the pages are made anew; the preview must not
    // repaint meanwhile, because the pages its scene shows are the ones being replaced.
    QWidget* view = dialog_->findChild<QPrintPreviewWidget*>();
    const bool freeze = progress && view && view->updatesEnabled();
    if (freeze) view->setUpdatesEnabled(false);
    layout_.render(*printer, first, last, progress);
    progress_.reset();
    if (freeze) view->setUpdatesEnabled(true);
}

void ReportPreview::savePdf() {
    QString path = chooseFile ? chooseFile(dialog_.data()) : QString();
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
    const ReportLayout::Progress progress = progressFor(layout_.pageCount(), tr("Writing the PDF..."));
    const ReportPdfResult result = writeReportPdf(rows_, path, progress);
    progress_.reset();
    if (!result.written && !result.cancelled && showError) showError(dialog_.data(), result.error);
}

QIcon ReportPreview::printIcon() {
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    QPainter p(&glyph);
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(Qt::white);
    p.drawRect(4, 1, 7, 5);  // sheet going in
    p.setBrush(QColor(0xA0, 0xA0, 0xA0));
    p.drawRect(1, 6, 13, 6);  // body
    p.setBrush(Qt::white);
    p.drawRect(4, 10, 7, 4);  // sheet coming out
    p.setPen(QColor(0x00, 0xA0, 0x00));
    p.drawPoint(12, 8);  // power light
    p.end();
    return QIcon(glyph);
}
