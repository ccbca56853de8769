#pragma once

#include <cstdint>
#include <vector>

#include "BenchStripPoints.h"

// What one strip of the bench chart draws for a stretch of time split into pixel columns: the
// points reduced to at most one bar (smallest to largest value) per column and one joining line
// per column into its first point, so the cost of drawing depends on the width, not on how many
// points the stretch holds. Values stay in the channel's unit; x is in columns from the left edge
// of the stretch (column c spans [c, c + 1)). Gap points are neither drawn nor joined.
struct BenchStripTrace {
    struct Bar {
        int column;
        double min;
        double max;
    };
    struct Join {
        double x0;
        double y0;
        double x1;
        double y1;
    };

    std::vector<Bar> bars;
    std::vector<Join> joins;
    // the values drawn, joins to points just outside the stretch included
    BenchStripPoints::Range range;
    // the widest time bucket among the points drawn; 0 when they are all readings
    int64_t bucketMs = 0;

    // Reduces the points from startMs on, msPerColumn to a column, over `columns` columns.
    static BenchStripTrace reduce(const BenchStripPoints& points, int64_t startMs, double msPerColumn,
                                  int columns);
};
