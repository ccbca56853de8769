#include "TracePlot.h"

#include <QGraphicsSceneHoverEvent>
#include <QPainter>
#include <QPolygonF>
#include <QStyleOptionGraphicsItem>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

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
// The area is never crossed by its edge more than once a column, so each column is filled from its
// top down. The columns are handed to the painter as rectangles as wide as the filled runs of a
// line and as high as those runs stay the same: a few hundred rectangles for a page, where a
// rectangle a column would have the painter fill one pixel at a time.
void fillUnder(QPainter* painter, const QPolygonF& edge, double bottom, const QBrush& brush) {
    const auto firstCentre = [](double v) { return int(std::ceil(v - 0.5)); };
    const int first = firstCentre(edge.first().x());
    const int rowEnd = firstCentre(bottom);
    const int columns = std::max(0, firstCentre(edge.last().x()) - first);
    std::vector<int> top(static_cast<std::size_t>(columns));
    qsizetype k = 0;
    for (int i = 0; i < columns; ++i) {
        const double x = first + i + 0.5;
        while (k + 2 < edge.size() && edge[k + 1].x() <= x) ++k;
        const QPointF a = edge[k];
        const QPointF b = edge[k + 1];
        const double y = b.x() > a.x() ? a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x()) : b.y();
        top[static_cast<std::size_t>(i)] = std::min(firstCentre(y), rowEnd);
    }
    // Columns join the filled area from the top down. A run of filled columns is one rectangle from
    // the line where it began to the line where a column next to it joins (and the runs merge).
    std::vector<int> order(static_cast<std::size_t>(columns));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int l, int r) { return top[l] < top[r]; });
    std::vector<int> runEnd(static_cast<std::size_t>(columns), -1);    // at a run's first column
    std::vector<int> runStart(static_cast<std::size_t>(columns), -1);  // at a run's last column
    std::vector<int> runTop(static_cast<std::size_t>(columns), 0);     // at a run's first column
    QList<QRect> rects;
    const auto close = [&](int from, int to, int y) {
        if (y > runTop[from])
            rects.append(QRect(first + from, runTop[from], to - from + 1, y - runTop[from]));
    };
    for (int c : order) {
        const int y = top[static_cast<std::size_t>(c)];
        int from = c;
        int to = c;
        if (c > 0 && runStart[c - 1] >= 0) {
            from = runStart[c - 1];
            close(from, c - 1, y);
        }
        if (c + 1 < columns && runEnd[c + 1] >= 0) {
            to = runEnd[c + 1];
            close(c + 1, to, y);
        }
        runEnd[from] = to;
        runStart[to] = from;
        runTop[from] = y;
    }
    for (int c = 0; c < columns; c = runEnd[c] + 1) close(c, runEnd[c], rowEnd);
    painter->setPen(Qt::NoPen);
    painter->setBrush(brush);
    painter->drawRects(rects);
}

// The value x from which the curve through `now` differs from the one through `before`: the start
// of the segment leading to the first point that changed. Infinity when nothing changed.
double changedFrom(const QList<QPointF>& before, const QList<QPointF>& now) {
    constexpr double kNone = std::numeric_limits<double>::infinity();
    const qsizetype n = std::min(before.size(), now.size());
    qsizetype i = 0;
    // the gaps' y is not a number, which equals nothing
    const auto same = [](const QPointF& a, const QPointF& b) {
        return a.x() == b.x() && (a.y() == b.y() || (std::isnan(a.y()) && std::isnan(b.y())));
    };
    while (i < n && same(before[i], now[i])) ++i;
    if (i == before.size() && i == now.size()) return kNone;
    return i == 0 ? -kNone : before[i - 1].x();
}

}  // namespace

TracePlot::TracePlot(QGraphicsItem* parent) : QGraphicsItem(parent) {
    setAcceptHoverEvents(true);
    // tells paint() which part of the plot is being repainted
    setFlag(ItemUsesExtendedStyleOption);
}

// The indexes [first, last] of the points whose segments can touch the pixel columns from `left`
// to `right` (relative to the plot): those in the span and one either side of it.
std::pair<qsizetype, qsizetype> TracePlot::pointsAcross(const QList<QPointF>& points, double left,
                                                        double right) const {
    const double perPixel = (xMax_ - xMin_) / plot_.width();
    const double from = xMin_ + left * perPixel;
    const double to = xMin_ + right * perPixel;
    const auto byX = [](const QPointF& p, double x) { return p.x() < x; };
    const auto begin = std::lower_bound(points.begin(), points.end(), from, byX);
    const auto end = std::lower_bound(begin, points.end(), to, byX);
    const qsizetype first = std::max<qsizetype>(0, (begin - points.begin()) - 1);
    const qsizetype last = std::min<qsizetype>(points.size() - 1, end - points.begin());
    return {first, last};
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
    changePoints(line, {}, pen, brush_);
}

void TracePlot::setArea(const QList<QPointF>& fill, const QBrush& brush, const QList<QPointF>& outline,
                        const QPen& outlinePen) {
    changePoints(outline, fill, outlinePen, brush);
}

void TracePlot::clear() {
    changePoints({}, {}, pen_, brush_);
}

// Points added at the end of a page change only the strip from the last point drawn before them:
// that strip is all that is painted again, not the whole plot with its background and grid.
void TracePlot::changePoints(const QList<QPointF>& line, const QList<QPointF>& fill, const QPen& pen,
                             const QBrush& brush) {
    const bool sameLook = pen == pen_ && brush == brush_ && fill.isEmpty() == fill_.isEmpty();
    constexpr double kNone = std::numeric_limits<double>::infinity();
    const double from = std::min(changedFrom(line_, line), changedFrom(fill_, fill));
    double to = -kNone;
    for (const QList<QPointF>* points : {&std::as_const(line_), &line, &std::as_const(fill_), &fill}) {
        if (!points->isEmpty()) to = std::max(to, points->last().x());
    }
    line_ = line;
    fill_ = fill;
    pen_ = pen;
    brush_ = brush;
    if (sameLook && from == kNone) return;
    if (!sameLook || from == -kNone || plot_.isEmpty() || !(xMax_ > xMin_)) {
        update();
        return;
    }
    const double left = std::max(plot_.left() - 1, plot_.left() + toPixel(QPointF(from, 0)).x() - 2);
    const double right = std::min(plot_.right() + 1, plot_.left() + toPixel(QPointF(to, 0)).x() + 2);
    if (right >= left) update(QRectF(left, plot_.top() - 1, right - left, plot_.height() + 2));
}

// the curve may reach half a pixel beyond the plot where its edges fall between pixels
QRectF TracePlot::boundingRect() const {
    return plot_.adjusted(-1, -1, 1, 1);
}

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

void TracePlot::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) {
    if (!painted_ || line_.isEmpty() || plot_.isEmpty() || !(xMax_ > xMin_) || !(yMax_ > yMin_)) return;
    // A strip repainted for new points needs only the segments that cross it (with two pixels to
    // spare for a line's width): a page's curve is not walked and filled for a few columns.
    const QRectF exposed = option ? option->exposedRect : boundingRect();
    const double left = exposed.left() - plot_.left() - 2;
    const double right = exposed.right() - plot_.left() + 2;
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
        painter->save();
        painter->resetTransform();
        // each stretch of the area is filled on its own
        const auto fillStretch = [&] {
            if (edge.size() > 1) fillUnder(painter, edge, plot_.bottom(), brush_);
            edge.clear();
        };
        // in device pixels, rounded to the 1/64 pixel the painter fills polygons at, so that the
        // spans are the pixels the polygon would fill
        const auto [firstFill, lastFill] = pointsAcross(fill_, left, right);
        for (qsizetype i = firstFill; i <= lastFill; ++i) {
            const QPointF& p = fill_[i];
            if (std::isnan(p.y())) {
                fillStretch();
                continue;
            }
            const QPointF d = plot_.topLeft() + toPixel(p);
            edge.append(QPointF(std::round(d.x() * 64) / 64, std::round(d.y() * 64) / 64));
        }
        fillStretch();
        painter->restore();
    }
    // one line per pair of points: a polyline would join them, which costs more and changes pixels
    const auto [firstLine, lastLine] = pointsAcross(line_, left, right);
    QList<QLineF> lines;
    lines.reserve(lastLine - firstLine);
    QPointF from = toPixel(line_[firstLine]);
    for (qsizetype i = firstLine + 1; i <= lastLine; ++i) {
        const QPointF to = toPixel(line_[i]);
        // a gap's point is not a number, and so is every line that ends or starts at it
        if (!std::isnan(from.y()) && !std::isnan(to.y())) lines.append(QLineF(from, to));
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
