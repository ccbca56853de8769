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
void sample(const ChartPoints& points, int64_t first, int64_t count, int columns, QList<QPointF>& out);

}  // namespace PageSampler
