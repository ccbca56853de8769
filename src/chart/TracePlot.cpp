#include "TracePlot.h"

#include <QGraphicsSceneHoverEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace {

// how close to the curve, in pixels, the mouse must be for the hint
constexpr double kHoverPixels = 3;

double distanceToSegment(const QPointF& p, const QPointF& a, const QPointF& b) {
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0) : 0.0;
    const QPointF d = p - (a + t * ab);
    return std::hypot(d.x(), d.y());
}

// Fills the area between `edge` (points left to right) and the horizontal line at `bottom`, all in
// device pixels, as the polygon they make would be filled: a pixel is inside when its centre is.
// The area is never crossed by its edge more than once a column, so a span per column does it,
// without the polygon rasterizer sorting thousands of crossings on every line.
void fillUnder(QPainter* painter, const QPolygonF& edge, double bottom, const QBrush& brush) {
    const auto firstCentre = [](double v) { return int(std::ceil(v - 0.5)); };
    const int last = firstCentre(edge.last().x());
    const int rowEnd = firstCentre(bottom);
    QList<QRect> spans;
    spans.reserve(std::max(0, last - firstCentre(edge.first().x())));
    qsizetype k = 0;
    for (int c = firstCentre(edge.first().x()); c < last; ++c) {
        const double x = c + 0.5;
        while (k + 2 < edge.size() && edge[k + 1].x() <= x) ++k;
        const QPointF a = edge[k];
        const QPointF b = edge[k + 1];
        const double y = b.x() > a.x() ? a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x()) : b.y();
        const int top = firstCentre(y);
        if (top < rowEnd) spans.append(QRect(c, top, 1, rowEnd - top));
    }
    painter->setPen(Qt::NoPen);
    painter->setBrush(brush);
    painter->drawRects(spans);
}

}  // namespace

TracePlot::TracePlot(QGraphicsItem* parent) : QGraphicsItem(parent) {
    setAcceptHoverEvents(true);
}

void TracePlot::setPlot(const QRectF& plotArea, double xMin, double xMax, double yMin, double yMax) {
    if (plotArea == plot_ && xMin == xMin_ && xMax == xMax_ && yMin == yMin_ && yMax == yMax_) return;
    if (plotArea != plot_) prepareGeometryChange();
    plot_ = plotArea;
    xMin_ = xMin;
    xMax_ = xMax;
    yMin_ = yMin;
    yMax_ = yMax;
    update();
}

void TracePlot::setLine(const QList<QPointF>& line, const QPen& pen) {
    line_ = line;
    fill_.clear();
    pen_ = pen;
    update();
}

void TracePlot::setArea(const QList<QPointF>& fill, const QBrush& brush, const QList<QPointF>& outline,
                        const QPen& outlinePen) {
    line_ = outline;
    fill_ = fill;
    brush_ = brush;
    pen_ = outlinePen;
    update();
}

void TracePlot::clear() {
    if (line_.isEmpty() && fill_.isEmpty()) return;
    line_.clear();
    fill_.clear();
    update();
}

// the curve may reach half a pixel beyond the plot where its edges fall between pixels
QRectF TracePlot::boundingRect() const { return plot_.adjusted(-1, -1, 1, 1); }

// relative to the plot's top left corner
QPointF TracePlot::toPixel(const QPointF& value) const {
    const double dx = plot_.width() / (xMax_ - xMin_);
    const double dy = plot_.height() / (yMax_ - yMin_);
    return QPointF((value.x() - xMin_) * dx, (value.y() - yMin_) * -dy + plot_.height());
}

QPointF TracePlot::toValue(const QPointF& pixel) const {
    return QPointF(xMin_ + (pixel.x() - plot_.left()) * (xMax_ - xMin_) / plot_.width(),
                   yMin_ + (plot_.bottom() - pixel.y()) * (yMax_ - yMin_) / plot_.height());
}

void TracePlot::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (line_.isEmpty() || plot_.isEmpty() || !(xMax_ > xMin_) || !(yMax_ > yMin_)) return;
    painter->save();
    painter->translate(plot_.topLeft());
    // Half a pixel more where the plot's edges fall between pixels, so that a curve along an edge
    // is drawn, but never so much that it shows beyond the plot.
    QRectF clip(QPointF(0, 0), plot_.size());
    const auto fraction = [](double v) { return v - std::floor(v); };
    clip.adjust(-fraction(plot_.left()), -fraction(plot_.top()), fraction(clip.width() + 0.5),
                fraction(clip.height() + 0.5));
    painter->setClipRect(clip);
    if (fill_.size() > 1) {
        QPolygonF edge;
        edge.reserve(fill_.size());
        // in device pixels, rounded to the 1/64 pixel the painter fills polygons at, so that the
        // spans are the pixels the polygon would fill
        for (const QPointF& p : fill_) {
            const QPointF d = plot_.topLeft() + toPixel(p);
            edge.append(QPointF(std::round(d.x() * 64) / 64, std::round(d.y() * 64) / 64));
        }
        painter->save();
        painter->resetTransform();
        fillUnder(painter, edge, plot_.bottom(), brush_);
        painter->restore();
    }
    // one line per pair of points: a polyline would join them, which costs more and changes pixels
    QList<QLineF> lines;
    lines.reserve(line_.size());
    QPointF from = toPixel(line_.first());
    for (qsizetype i = 1; i < line_.size(); ++i) {
        const QPointF to = toPixel(line_[i]);
        lines.append(QLineF(from, to));
        from = to;
    }
    painter->setPen(pen_);
    painter->setBrush(Qt::NoBrush);
    painter->drawLines(lines);
    painter->restore();
}

bool TracePlot::nearCurve(const QPointF& pixel) const {
    if (line_.isEmpty() || plot_.isEmpty()) return false;
    // the points run left to right: only the segments around the mouse's column can be near it
    const double from = toValue(pixel - QPointF(kHoverPixels, 0)).x();
    auto it = std::lower_bound(line_.begin(), line_.end(), from,
                               [](const QPointF& p, double x) { return p.x() < x; });
    if (it != line_.begin()) --it;
    const double to = toValue(pixel + QPointF(kHoverPixels, 0)).x();
    for (; it != line_.end() && it->x() <= to; ++it) {
        const QPointF a = plot_.topLeft() + toPixel(*it);
        const QPointF b = (it + 1 != line_.end()) ? plot_.topLeft() + toPixel(*(it + 1)) : a;
        if (distanceToSegment(pixel, a, b) <= kHoverPixels) return true;
    }
    return false;
}

void TracePlot::hoverMoveEvent(QGraphicsSceneHoverEvent* event) {
    const bool near = nearCurve(event->pos());
    if (!onHover || (!near && !hovering_)) return;
    hovering_ = near;
    onHover(toValue(event->pos()), near);
}

void TracePlot::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    if (hovering_ && onHover) onHover(QPointF(), false);
    hovering_ = false;
}
