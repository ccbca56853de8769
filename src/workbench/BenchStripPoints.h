#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "BenchReading.h"
#include "MinMaxPyramid.h"

// One channel's history as the bench chart reads it: per point a time (milliseconds since 1970
// UTC) and a value in the channel's base unit, in the order of time; a point without a value
// (NaN) is a gap, where the channel had no reading until its next point. The points stay in the
// model's history; this class adds what drawing them needs.
//
// A day at ten readings a second is close to a million points a channel. A MinMaxPyramid brings
// any stretch of points down to its extremes by reading a few dozen entries, however long it is.
// The summary takes in what the history got since the last time on catchUp(), once a drawing,
// not a reading.
class BenchStripPoints {
public:
    // Smallest and largest value of some points; empty when none of them had a value.
    using Range = MinMaxPyramid<double>::Range;

    explicit BenchStripPoints(const ChannelHistory* history = nullptr) : history_(history) {}

    // Reads another history from its start.
    void setHistory(const ChannelHistory* history);
    // Takes in the points the history got since the last call; a history that got shorter is
    // read again from its start.
    void catchUp();

    // the points taken in
    int64_t size() const { return done_; }
    int64_t time(int64_t i) const { return history_->timeMs[size_t(i)]; }
    double value(int64_t i) const { return history_->value[size_t(i)]; }
    bool isGap(int64_t i) const { return std::isnan(value(i)); }

    // Index of the first point at or after timeMs; size() when there is none.
    int64_t lowerBound(int64_t timeMs) const;
    // Extremes of the points [first, last), clipped to the points taken in.
    Range range(int64_t first, int64_t last) const;

private:
    void clear();

    const ChannelHistory* history_;
    int64_t done_ = 0;
    MinMaxPyramid<double> summary_;
};
