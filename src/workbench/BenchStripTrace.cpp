#include "BenchStripTrace.h"

#include <algorithm>
#include <cmath>

namespace {

// the first point in column c: the first at or after the column's left edge, a whole millisecond
int64_t columnStart(const BenchStripPoints& points, int64_t startMs, double msPerColumn, int c) {
    return points.lowerBound(startMs + int64_t(std::ceil(c * msPerColumn)));
}

}  // namespace

BenchStripTrace BenchStripTrace::reduce(const BenchStripPoints& points, int64_t startMs, double msPerColumn,
                                        int columns) {
    BenchStripTrace trace;
    if (columns <= 0 || !(msPerColumn > 0) || points.size() == 0) return trace;
    const auto x = [&](int64_t i) { return double(points.time(i) - startMs) / msPerColumn; };
    // The line into point i from the one before it, unless either is a gap. It is all that shows
    // of two readings on either side of a stretch that holds none.
    const auto join = [&](int64_t i) {
        if (i <= 0 || i >= points.size() || points.isGap(i - 1) || points.isGap(i)) return;
        const double y0 = points.value(i - 1);
        const double y1 = points.value(i);
        trace.joins.push_back(Join{x(i - 1), y0, x(i), y1});
        trace.range.take(y0, y0);
        trace.range.take(y1, y1);
    };
    trace.bars.reserve(size_t(columns));
    int64_t first = columnStart(points, startMs, msPerColumn, 0);
    for (int c = 0; c < columns; ++c) {
        const int64_t end = columnStart(points, startMs, msPerColumn, c + 1);
        if (end > first) {
            join(first);
            // the coarser levels come first in time, so the widest bucket is the column's first
            trace.bucketMs = std::max(trace.bucketMs, points.bucketMs(first));
            const BenchStripPoints::Range r = points.range(first, end);
            if (!r.empty()) {
                trace.bars.push_back(Bar{c, r.min, r.max});
                trace.range.take(r);
            }
        }
        first = end;
    }
    // on into the first point beyond the right edge
    join(first);
    return trace;
}
