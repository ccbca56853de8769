#include "ReportPreview.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>

#include "FileProgressDialog.h"
#include "ReportPageView.h"
#include "SaveBesideFile.h"

namespace {

// The toolbar glyphs Qt's print support ships, with a style icon where one is missing.
QIcon toolIcon(QWidget* owner, const char* name, QStyle::StandardPixmap fallback) {
    const QString path = QStringLiteral(":/qt-project.org/dialogs/qprintpreviewdialog/images/%1-24.png")
                             .arg(QLatin1String(name));
    return QFile::exists(path) ? QIcon(path) : owner->style()->standardIcon(fallback);
}

const int kZoomSteps[] = {12, 25, 50, 75, 100, 125, 150, 200, 400, 800};

}  // namespace

ReportPreview::ReportPreview(const RecordSource& rows, QWidget* parent)
    : rows_(rows.snapshot()),
      layout_(*rows_),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    printer_->setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                    QMarginsF(ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin),
                    QPageLayout::Millimeter));
    printer_->setCopyCount(1);
    printer_->setDuplex(QPrinter::DuplexNone);
    printer_->setDocName(ReportLayout::kTitle);

    dialog_ = new QDialog(parent);
    dialog_->setObjectName(QStringLiteral("ReportPreview"));
    dialog_->setWindowTitle(tr("Print Preview"));
    auto* layout = new QVBoxLayout(dialog_.data());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QToolBar(dialog_.data());
    view_ = new ReportPageView(layout_, dialog_.data());
    status_ = new QLabel(dialog_.data());
    status_->setObjectName(QStringLiteral("status"));
    status_->setContentsMargins(6, 2, 6, 2);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(bar);
    layout->addWidget(view_, 1);
    layout->addWidget(status_);
    buildToolBar(bar);
    connect(view_, &ReportPageView::currentPageChanged, this, &ReportPreview::showPage);
    connect(view_, &ReportPageView::zoomChanged, this, &ReportPreview::showZoom);
    showPage(0);
    showZoom(view_->zoom());
    fitOpeningSize(bar);
    view_->setFocus();

    chooseFile = [](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, tr("Save as PDF"), QString(), tr("PDF files (*.pdf)"));
    };
    choosePrinter = [this](QPrinter& printer, QWidget* owner) {
        QPrintDialog ask(&printer, owner);
        ask.setMinMax(1, layout_.pageCount());
        return ask.exec() == QDialog::Accepted;
    };
    showError = [](QWidget* owner, const QString& message) {
        QMessageBox::warning(owner, tr("Save as PDF"), message);
    };
}

ReportPreview::~ReportPreview() {
    delete dialog_.data();
}

QAction* ReportPreview::addAction(QToolBar* bar, const QString& text, const QIcon& icon,
                                  const QKeySequence& key) {
    QAction* a = bar->addAction(icon, text);
    if (!key.isEmpty()) {
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(QStringLiteral("%1 (%2)").arg(text, key.toString(QKeySequence::NativeText)));
    }
    return a;
}

void ReportPreview::buildToolBar(QToolBar* bar) {
    QWidget* d = dialog_.data();
    const bool pages = layout_.pageCount() > 0;
    auto go = [this](auto page) { return [this, page] { view_->goToPage(page()); }; };
    connect(
        addAction(bar, tr("First page"), toolIcon(d, "go-first", QStyle::SP_MediaSkipBackward), Qt::Key_Home),
        &QAction::triggered, this, go([] { return 0; }));
    connect(
        addAction(bar, tr("Previous page"), toolIcon(d, "go-previous", QStyle::SP_ArrowBack), Qt::Key_PageUp),
        &QAction::triggered, this, go([this] { return view_->currentPage() - (view_->facing() ? 2 : 1); }));
    pageBox_ = new QSpinBox(bar);
    pageBox_->setObjectName(QStringLiteral("pageBox"));
    pageBox_->setKeyboardTracking(false);
    pageBox_->setButtonSymbols(QAbstractSpinBox::NoButtons);
    pageBox_->setAlignment(Qt::AlignRight);
    pageBox_->setRange(pages ? 1 : 0, std::max(1, layout_.pageCount()));
    pageBox_->setEnabled(pages);
    pageBox_->setMinimumWidth(pageBox_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    connect(pageBox_, &QSpinBox::valueChanged, this, [this](int page) { view_->goToPage(page - 1); });
    bar->addWidget(pageBox_);
    pageTotal_ = new QLabel(QStringLiteral(" / %1 ").arg(layout_.pageCount()), bar);
    bar->addWidget(pageTotal_);
    connect(
        addAction(bar, tr("Next page"), toolIcon(d, "go-next", QStyle::SP_ArrowForward), Qt::Key_PageDown),
        &QAction::triggered, this, go([this] { return view_->currentPage() + (view_->facing() ? 2 : 1); }));
    connect(addAction(bar, tr("Last page"), toolIcon(d, "go-last", QStyle::SP_MediaSkipForward), Qt::Key_End),
            &QAction::triggered, this, go([this] { return layout_.pageCount() - 1; }));
    bar->addSeparator();

    connect(addAction(bar, tr("Fit width"), toolIcon(d, "zoom-fit-width", QStyle::SP_TitleBarMaxButton), {}),
            &QAction::triggered, this, [this] { view_->setFit(ReportPageView::Fit::Width); });
    connect(addAction(bar, tr("Fit page"), toolIcon(d, "zoom-fit-page", QStyle::SP_TitleBarNormalButton), {}),
            &QAction::triggered, this, [this] { view_->setFit(ReportPageView::Fit::Page); });
    zoomBox_ = new QComboBox(bar);
    zoomBox_->setObjectName(QStringLiteral("zoomBox"));
    zoomBox_->setEditable(true);
    zoomBox_->setInsertPolicy(QComboBox::NoInsert);
    for (const int z : kZoomSteps) zoomBox_->addItem(QStringLiteral("%1%").arg(z));
    connect(zoomBox_->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        const double percent = zoomBox_->currentText().remove(QLatin1Char('%')).trimmed().toDouble(&ok);
        if (ok && percent > 0) view_->setZoom(percent / 100);
        showZoom(view_->zoom());
    });
    connect(zoomBox_, &QComboBox::activated, this, [this](int i) { view_->setZoom(kZoomSteps[i] / 100.0); });
    bar->addWidget(zoomBox_);
    const QKeySequence zoomOutKey(QKeySequence::ZoomOut);
    connect(addAction(bar, tr("Zoom out"), toolIcon(d, "zoom-out", QStyle::SP_ArrowDown), zoomOutKey),
            &QAction::triggered, this, [this] { view_->setZoom(view_->zoom() / 1.25); });
    const QKeySequence zoomInKey(QKeySequence::ZoomIn);
    connect(addAction(bar, tr("Zoom in"), toolIcon(d, "zoom-in", QStyle::SP_ArrowUp), zoomInKey),
            &QAction::triggered, this, [this] { view_->setZoom(view_->zoom() * 1.25); });
    bar->addSeparator();

    onePage_ = addAction(bar, tr("One page"), toolIcon(d, "view-pages-single", QStyle::SP_FileIcon), {});
    facing_ = addAction(bar, tr("Facing pages"),
                        toolIcon(d, "view-pages-facing", QStyle::SP_FileDialogDetailedView), {});
    onePage_->setCheckable(true);
    facing_->setCheckable(true);
    onePage_->setChecked(true);
    connect(onePage_, &QAction::triggered, this, [this] {
        onePage_->setChecked(true);
        facing_->setChecked(false);
        view_->setFacing(false);
    });
    connect(facing_, &QAction::triggered, this, [this] {
        onePage_->setChecked(false);
        facing_->setChecked(true);
        view_->setFacing(true);
    });
    bar->addSeparator();

    print_ =
        addAction(bar, tr("Print"), toolIcon(d, "printer", QStyle::SP_DialogOkButton), QKeySequence::Print);
    print_->setObjectName(QStringLiteral("print"));
    print_->setEnabled(pages);
    connect(print_, &QAction::triggered, this, &ReportPreview::printClicked);
    savePdf_ = addAction(bar, tr("Save as PDF"), d->style()->standardIcon(QStyle::SP_DialogSaveButton), {});
    savePdf_->setObjectName(QStringLiteral("savePdf"));
    savePdf_->setToolTip(tr("Save the report as a PDF file"));
    savePdf_->setEnabled(pages);
    connect(savePdf_, &QAction::triggered, this, &ReportPreview::savePdf);
}

void ReportPreview::fitOpeningSize(QToolBar* bar) {
    QSize size(std::max(900, bar->sizeHint().width()), 700);
    if (QScreen* screen = dialog_->screen() ? dialog_->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize());
    dialog_->resize(size);
}

void ReportPreview::showPage(int page) {
    if (layout_.pageCount() == 0) return;
    const QSignalBlocker quiet(pageBox_);
    pageBox_->setValue(page + 1);
}

void ReportPreview::showZoom(double zoom) {
    zoomBox_->setEditText(QStringLiteral("%1%").arg(std::lround(zoom * 100)));
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

void ReportPreview::printClicked() {
    if (layout_.pageCount() == 0 || !choosePrinter || !choosePrinter(*printer_, dialog_.data())) return;
    print(*printer_);
}

int ReportPreview::print(QPrinter& printer) {
    printer.setFullPage(false);
    const auto [first, last] = pageRange(printer, layout_.pageCount());
    // Printed to a file, the pages go to a file beside it that replaces it once all are there, so
    // a cancelled or failed run leaves the earlier file as it was.
    const QString target = printer.outputFileName();
    std::optional<SaveBesideFile> file;
    if (!target.isEmpty()) {
        file.emplace(target);
        if (!file->open(QIODevice::WriteOnly)) return printFailed(target, file->errorString());
        printer.setOutputFileName(file->writtenPath());
    }
    FileProgressDialog progress(tr("Printing the report..."), dialog_.data());
    const FileProgress step = progress.callback();
    const int done =
        layout_.render(printer, first, last, [&step](int pages, int total) { return step(pages, total); });
    if (file) {
        printer.setOutputFileName(target);
        if (done < last - first + 1) {
            file->cancelWriting();
        } else if (!file->commit()) {
            return printFailed(target, file->errorString());
        }
    }
    return done;
}

int ReportPreview::printFailed(const QString& target, const QString& reason) {
    if (showError) showError(dialog_.data(), tr("Could not write %1: %2").arg(target, reason));
    return 0;
}

void ReportPreview::savePdf() {
    if (layout_.pageCount() == 0) return;
    QString path = chooseFile ? chooseFile(dialog_.data()) : QString();
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
    FileProgressDialog progress(tr("Writing the PDF..."), dialog_.data());
    const FileProgress step = progress.callback();
    const ReportPdfResult result =
        writeReportPdf(*rows_, path, [&step](int done, int total) { return step(done, total); });
    const QString where = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (result.written) {
        status_->setText(result.pages == 1 ? tr("Saved 1 page as %1").arg(where)
                                           : tr("Saved %1 pages as %2").arg(result.pages).arg(where));
    } else if (result.cancelled) {
        status_->setText(tr("PDF not saved: cancelled"));
    } else {
        status_->setText(tr("PDF not saved: %1").arg(result.error));
        if (showError) showError(dialog_.data(), result.error);
    }
}

QString ReportPreview::statusText() const {
    return status_->text();
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
