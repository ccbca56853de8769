#include "ReportPageView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ReportLayout.h"

namespace {

constexpr double kMmPerInch = 25.4;
// The vertical scroll bar counts in ints; a canvas taller than this is scrolled in coarser steps.
constexpr double kMaxScrollSteps = 1e9;

}  // namespace

QSizeF PageGrid::contentSize() const {
    if (pageCount <= 0) return {};
    return QSizeF(columns * (pageSize.width() + gap) + gap, rowCount() * rowHeight() + gap);
}

QRectF PageGrid::pageRect(int page) const {
    const int column = page % columns;
    return QRectF(gap + column * (pageSize.width() + gap), gap + rowOf(page) * rowHeight(), pageSize.width(),
                  pageSize.height());
}

std::pair<int, int> PageGrid::pagesIn(double top, double height) const {
    if (pageCount <= 0 || rowHeight() <= 0) return {0, -1};
    const double rows = rowHeight();
    const int firstRow = std::clamp(static_cast<int>(std::floor((top - gap) / rows)), 0, rowCount() - 1);
    const int lastRow =
        std::clamp(static_cast<int>(std::floor((top + height - gap) / rows)), firstRow, rowCount() - 1);
    return {firstRow * columns, std::min(pageCount - 1, lastRow * columns + columns - 1)};
}

int PageGrid::pageMostShown(double top, double height) const {
    const auto [first, last] = pagesIn(top, height);
    int best = first;
    double shown = -1.0;
    for (int page = first; page <= last; page += columns) {
        const QRectF r = pageRect(page);
        const double part = std::min(r.bottom(), top + height) - std::max(r.top(), top);
        if (part > shown + 0.5) {
            shown = part;
            best = page;
        }
    }
    return std::max(best, 0);
}

ReportPageView::ReportPageView(const ReportLayout& layout, QWidget* parent)
    : QAbstractScrollArea(parent), layout_(layout) {
    grid_.pageCount = layout.pageCount();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    relayout(0);
}

QSizeF ReportPageView::paperPixels() const {
    return QSizeF(ReportMm::kPaperWidth * viewport()->logicalDpiX() / kMmPerInch,
                  ReportMm::kPaperHeight * viewport()->logicalDpiY() / kMmPerInch);
}

void ReportPageView::goToPage(int page) {
    if (grid_.pageCount == 0) return;
    page = std::clamp(page, 0, grid_.pageCount - 1);
    scrollToTop(grid_.pageRect(page).top() - grid_.gap);
    if (page != current_) {
        current_ = page;
        emit currentPageChanged(page);
    }
}

void ReportPageView::setZoom(double zoom) {
    fit_ = Fit::None;
    zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
    relayout(current_);
}

void ReportPageView::setFit(Fit fit) {
    fit_ = fit;
    relayout(current_);
}

void ReportPageView::setFacing(bool facing) {
    grid_.columns = facing ? 2 : 1;
    relayout(current_);
}

void ReportPageView::relayout(int keepPage) {
    const QSizeF paper = paperPixels();
    const double gap = grid_.gap;
    const int columns = grid_.columns;
    const QSize room = viewport()->size();
    const double byWidth = (room.width() - (columns + 1) * gap) / (columns * paper.width());
    if (fit_ == Fit::Width) zoom_ = byWidth;
    if (fit_ == Fit::Page) zoom_ = std::min(byWidth, (room.height() - 2 * gap) / paper.height());
    zoom_ = std::clamp(zoom_, kMinZoom, kMaxZoom);
    grid_.pageSize = paper * zoom_;
    updateScrollBars();
    scrollToTop(grid_.pageCount > 0 ? grid_.pageRect(keepPage).top() - gap : 0.0);
    emit zoomChanged(zoom_);
}

void ReportPageView::updateScrollBars() {
    const QSizeF content = grid_.contentSize();
    const QSize room = viewport()->size();
    unit_ = std::max(1.0, std::ceil(content.height() / kMaxScrollSteps));
    scrolling_ = true;
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, static_cast<int>(std::ceil(std::max(0.0, content.height() - room.height()) / unit_)));
    v->setPageStep(std::max(1, static_cast<int>(room.height() / unit_)));
    v->setSingleStep(std::max(1, static_cast<int>(grid_.rowHeight() / 20 / unit_)));
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, static_cast<int>(std::ceil(std::max(0.0, content.width() - room.width()))));
    h->setPageStep(std::max(1, room.width()));
    h->setSingleStep(20);
    scrolling_ = false;
}

double ReportPageView::top() const {
    return verticalScrollBar()->value() * unit_;
}

void ReportPageView::scrollToTop(double y) {
    scrolling_ = true;
    verticalScrollBar()->setValue(static_cast<int>(std::lround(std::max(0.0, y) / unit_)));
    scrolling_ = false;
    viewport()->update();
}

void ReportPageView::scrollContentsBy(int, int) {
    viewport()->update();
    if (!scrolling_) followScroll();
}

void ReportPageView::followScroll() {
    const int page = grid_.pageMostShown(top(), viewport()->height());
    if (grid_.pageCount > 0 && page != current_) {
        current_ = page;
        emit currentPageChanged(page);
    }
}

void ReportPageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout(current_);
}

void ReportPageView::wheelEvent(QWheelEvent* event) {
    const int turn = event->angleDelta().y();
    if (!(event->modifiers() & Qt::ControlModifier) || turn == 0) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    setZoom(turn > 0 ? zoom_ * 1.25 : zoom_ / 1.25);
    event->accept();
}

void ReportPageView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    if (grid_.pageCount == 0) {
        painter.setPen(palette().color(QPalette::BrightText));
        painter.drawText(viewport()->rect(), Qt::AlignCenter,
                         tr("The table has no rows: there is nothing to print."));
        return;
    }
    const double dpiX = viewport()->logicalDpiX();
    const double dpiY = viewport()->logicalDpiY();
    const double pageTop = top();
    const QSizeF content = grid_.contentSize();
    // a canvas narrower than the view is centred in it
    const double left = content.width() < viewport()->width() ? -(viewport()->width() - content.width()) / 2
                                                              : horizontalScrollBar()->value();
    const auto [first, last] = grid_.pagesIn(pageTop, viewport()->height());
    for (int page = first; page <= last; ++page) {
        const QRectF r = grid_.pageRect(page).translated(-left, -pageTop);
        painter.fillRect(r.translated(3, 3), QColor(0x40, 0x40, 0x40));
        painter.fillRect(r, Qt::white);
        painter.save();
        painter.setClipRect(r);
        painter.translate(r.topLeft());
        painter.scale(zoom_, zoom_);
        layout_.paintPage(painter, page, dpiX, dpiY);
        painter.restore();
    }
}
