#include "PageSampler.h"

#include <algorithm>
#include <limits>

#include "ChartPoints.h"

namespace PageSampler {

namespace {

QPointF gapBefore(int64_t index) {
    return QPointF(double(index) - 0.5, std::numeric_limits<double>::quiet_NaN());
}

}  // namespace

void sample(const ChartPoints& points, int64_t first, int64_t count, int columns, QList<QPointF>& out,
            QList<QPointF>* fill) {
    out.clear();
    if (fill) fill->clear();
    first = std::max<int64_t>(first, 0);
    count = std::min(count, points.size() - first);
    if (count <= 0) return;
    columns = std::max(columns, 1);
    // the first break that parts two points of the page
    int64_t gap = points.nextBreak(first + 1);
    // four points per column: below that, the points themselves are no more work
    if (count <= int64_t(columns) * 4) {
        out.reserve(static_cast<qsizetype>(count));
        for (int64_t i = first; i < first + count; ++i) {
            if (i == gap) {
                out.append(gapBefore(i));
                gap = points.nextBreak(i + 1);
            }
            out.append(QPointF(double(i), points.value(i)));
        }
        if (fill) *fill = out;
        return;
    }
    out.reserve(qsizetype(columns) * 4);
    if (fill) fill->reserve(qsizetype(columns) * 2);
    // points [a, b), a < b, as four points and the fill's step at their largest value
    const auto summarise = [&](int64_t a, int64_t b) {
        const float head = points.value(a);
        const float tail = points.value(b - 1);
        const ChartPoints::Range r = points.range(a, b);
        const double mid = double(a + b - 1) / 2;
        out.append(QPointF(double(a), head));
        // inside one column the order of the extremes does not change which pixels are drawn
        out.append(QPointF(mid, r.min));
        out.append(QPointF(mid, r.max));
        out.append(QPointF(double(b - 1), tail));
        if (fill) {
            fill->append(QPointF(double(a), r.max));
            fill->append(QPointF(double(b - 1), r.max));
        }
    };
    for (int c = 0; c < columns; ++c) {
        int64_t a = first + count * c / columns;
        const int64_t b = first + count * (c + 1) / columns;  // exclusive
        if (a >= b) continue;
        for (; gap < b; gap = points.nextBreak(gap + 1)) {
            if (gap > a) summarise(a, gap);
            a = gap;
            out.append(gapBefore(gap));
            if (fill) fill->append(gapBefore(gap));
        }
        summarise(a, b);
    }
}

}  // namespace PageSampler
