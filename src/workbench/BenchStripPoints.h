#pragma once

#include <cstdint>
#include <vector>

#include "BenchReading.h"

// One channel's history as the bench chart reads it: one series in the order of time (ms since
// 1970 UTC), the coarse levels of the history for the old part and its readings for the recent
// one. A point is a reading or a bucket of readings, with the extremes of the values in it and a
// value to draw a line through (a bucket's mean); a point without a value is a gap, where the
// channel had no value until its next point. The points stay in the history; every level carries
// a MinMaxPyramid, so any stretch of points comes down to its extremes by reading a few dozen
// entries however long it is.
//
// What the history got after the last catchUp() is not read, so a drawing shows what the axis
// was told of. Indices count from the oldest point the history still holds and move on as it
// lets go of old ones; they hold until the history changes.
class BenchStripPoints {
public:
    // Smallest and largest value of some points; empty when none of them had a value.
    using Range = MinMaxPyramid<double>::Range;

    explicit BenchStripPoints(const ChannelHistory* history = nullptr) : history_(history) {}

    // Reads another history, from the next catchUp() on.
    void setHistory(const ChannelHistory* history);
    // Takes in what the history got since the last call.
    void catchUp();

    // the points taken in
    int64_t size() const { return layout().size; }
    int64_t time(int64_t i) const { return at(i).time(i); }
    double value(int64_t i) const { return at(i).value(i); }
    Range extremes(int64_t i) const { return at(i).extremes(i); }
    bool isGap(int64_t i) const { return std::isnan(value(i)); }
    // the width of the time bucket point i stands for; 0 for a reading
    int64_t bucketMs(int64_t i) const { return at(i).series->bucketMs(); }

    // Index of the first point at or after timeMs; size() when there is none.
    int64_t lowerBound(int64_t timeMs) const;
    // Extremes of the points [first, last), clipped to the points taken in.
    Range range(int64_t first, int64_t last) const;

private:
    // a stretch of one level of the history, at `offset` among the points
    struct Part {
        const HistorySeries* series;
        int64_t from;  // entries [from, to) of the level
        int64_t to;
        int64_t offset;

        int64_t size() const { return to - from; }
        // turns index i of the points into one of the level
        int64_t time(int64_t i) const { return series->time(i - offset + from); }
        double value(int64_t i) const { return series->value(i - offset + from); }
        Range extremes(int64_t i) const { return series->extremes(i - offset + from); }
    };
    struct Layout {
        uint64_t revision = ~uint64_t(0);
        std::vector<Part> parts;
        int64_t size = 0;
    };

    // the parts as they are now; worked out again when the history changed
    const Layout& layout() const;
    const Part& at(int64_t i) const;

    const ChannelHistory* history_;
    std::vector<int64_t> taken_;  // each level's end at the last catchUp()
    mutable Layout layout_;
};
