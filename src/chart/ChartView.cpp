#include "ChartView.h"

#include <QChart>
#include <QMouseEvent>

ChartView::ChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing, false);
    // Nothing here is drawn antialiased, so a changed area needs no margin around it; with one, a
    // strip of new points reached the axis labels under the plot and had them drawn again.
    setOptimizationFlag(QGraphicsView::DontAdjustForAntialiasing);
    // The chart covers the whole view and the view fills what it might leave with its background
    // brush: filling the viewport first as well only paints every pixel once more.
    viewport()->setAutoFillBackground(false);
    // It paints every pixel of what it is asked to, so the panel behind it is not painted first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFrameShape(QFrame::NoFrame);
    viewport()->setCursor(Qt::CrossCursor);
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        chart()->zoomReset();
        event->accept();
        emit zoomChanged();
        return;
    }
    const bool wasZoomed = chart()->isZoomed();
    QChartView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && (chart()->isZoomed() || wasZoomed)) emit zoomChanged();
}
