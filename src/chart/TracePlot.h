#pragma once

#include <QGraphicsItem>
#include <QList>
#include <QPen>
#include <QPointF>
#include <functional>
#include <utility>

// The curve of the trend chart, drawn by the chart itself over its plot area: either a line or
// an area filled from the bottom of the plot up to an upper edge, with its outline over the fill.
// The chart's own series stroke a path point by point and rebuild a hit-test outline of it on
// every change, which at the line rate costs far more than the drawing; this item keeps the
// points in the axes' values, maps them when it paints, and draws plain lines and one polygon.
// Only the plot area is repainted when the points change.
class TracePlot : public QGraphicsItem {
public:
    explicit TracePlot(QGraphicsItem* parent = nullptr);

    // the plot rectangle in the parent's coordinates and the axes' ranges it spans
    void setPlot(const QRectF& plotArea, double xMin, double xMax, double yMin, double yMax);
    // a line through `line`, or (with `fill`) the area under `fill` outlined by `line`; a point
    // whose y is not a number parts both into stretches drawn apart, with nothing between them
    void setLine(const QList<QPointF>& line, const QPen& pen);
    void setArea(const QList<QPointF>& fill, const QBrush& brush, const QList<QPointF>& outline,
                 const QPen& outlinePen);
    void clear();
    // Off: paint() draws nothing, and nothing is repainted for it; for pictures of what lies under
    // the curve.
    void setPainted(bool on) { painted_ = on; }

    // Called with the values under the mouse while it is on the curve, and with entered false
    // when it leaves it.
    std::function<void(const QPointF& value, bool entered)> onHover;

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

private:
    QPointF toPixel(const QPointF& value) const;
    std::pair<qsizetype, qsizetype> pointsAcross(const QList<QPointF>& points, double left,
                                                 double right) const;
    QPointF toValue(const QPointF& pixel) const;
    bool nearCurve(const QPointF& pixel) const;
    void changePoints(const QList<QPointF>& line, const QList<QPointF>& fill, const QPen& pen,
                      const QBrush& brush);

    QRectF plot_;
    double xMin_ = 0, xMax_ = 1, yMin_ = 0, yMax_ = 1;
    QList<QPointF> line_;
    QList<QPointF> fill_;
    QPen pen_;
    QBrush brush_;
    bool hovering_ = false;
    bool painted_ = true;
};
