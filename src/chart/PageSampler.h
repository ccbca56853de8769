#pragma once

#include <QList>
#include <QPointF>
#include <cstdint>

class ChartPoints;

// What the chart is handed of one page: the points themselves while they are few, otherwise per
// pixel column the first and last point and the column's smallest and largest value between them.
// A polyline through those draws the same pixels as one through every point, and the ranges come
// from the store's block summary, so a page of all points costs about as much as a small one.
namespace PageSampler {

// Points [first, first + count) of `points` for a plot `columns` pixels wide; x is the position.
// `fill`, when given, receives the upper edge of the area under the curve: a filled column reaches
// up to its largest value whatever lies below it, so a step at each column's largest value fills
// the same pixels with a polygon of few crossings, which fills far faster than the folded line.
void sample(const ChartPoints& points, int64_t first, int64_t count, int columns, QList<QPointF>& out,
            QList<QPointF>* fill = nullptr);

inline bool isGap(const QPointF& p) {
    return p.y() != p.y();
}

}  // namespace PageSampler
