#include "ChartView.h"

#include <QChart>
#include <QGraphicsLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QValueAxis>
#include <limits>

#include "TracePlot.h"

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

void ChartView::paintEvent(QPaintEvent* event) {
    if (curve_ && paintOverStill(event->region())) return;
    QChartView::paintEvent(event);
}

// What the chart under the curve depends on: where the area is, the plot, the axes' ranges and
// ticks (an axis moves its grid and labels as its range is set), and the view's pixels.
std::vector<double> ChartView::stillKey(const QRect& area) const {
    const QRectF plot = chart()->plotArea();
    std::vector<double> key = {double(area.x()),
                               double(area.y()),
                               double(area.width()),
                               double(area.height()),
                               plot.x(),
                               plot.y(),
                               plot.width(),
                               plot.height(),
                               double(viewport()->width()),
                               double(viewport()->height()),
                               viewport()->devicePixelRatioF()};
    for (const QAbstractAxis* axis : chart()->axes()) {
        if (const auto* values = qobject_cast<const QValueAxis*>(axis)) {
            key.insert(key.end(), {values->min(), values->max(), values->tickInterval(), values->tickAnchor(),
                                   double(values->tickType()), double(values->tickCount()),
                                   double(values->minorTickCount())});
        } else {
            // an axis of another kind would need its own key: never take a picture under it
            key.push_back(std::numeric_limits<double>::quiet_NaN());
        }
    }
    return key;
}

bool ChartView::paintOverStill(const QRegion& region) {
    // A chart whose layout waits to be done has axes that say more than its items show yet.
    if (!viewportTransform().isIdentity() || !curve_->isVisible() || !chart()->layout()->isActivated())
        return false;
    // the view widens what an item asks to have repainted by a pixel or so
    const QRect area =
        curve_->sceneBoundingRect().adjusted(-2, -2, 2, 2).toAlignedRect() & viewport()->rect();
    if (area.isEmpty() || !region.subtracted(area).isEmpty()) return false;
    const std::vector<double> key = stillKey(area);
    if (!(key == stillKey_) || still_.isNull()) {
        // the chart as this view paints it (its background brush, then the scene's items) without the
        // curve, at the view's own coordinates: a gradient drawn shifted rounds some lines apart
        const qreal ratio = viewport()->devicePixelRatioF();
        still_ = QImage(viewport()->size() * ratio, QImage::Format_ARGB32_Premultiplied);
        still_.setDevicePixelRatio(ratio);
        QPainter painter(&still_);
        painter.setRenderHints(renderHints());
        painter.setClipRect(area);
        painter.fillRect(area, backgroundBrush());
        curve_->setPainted(false);
        scene()->render(&painter, QRectF(viewport()->rect()), QRectF(viewport()->rect()),
                        Qt::IgnoreAspectRatio);
        curve_->setPainted(true);
        stillKey_ = key;
    }
    QPainter painter(viewport());
    painter.setRenderHints(renderHints());
    const qreal ratio = still_.devicePixelRatio();
    for (const QRect& r : region) {
        const QRectF source(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio);
        painter.drawImage(QRectF(r), still_, source);
    }
    painter.setClipRegion(region);
    painter.setWorldTransform(curve_->sceneTransform());
    QStyleOptionGraphicsItem option;
    option.exposedRect = curve_->mapFromScene(QRectF(region.boundingRect())).boundingRect();
    curve_->paint(&painter, &option, viewport());
    return true;
}
