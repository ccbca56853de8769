#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "BenchReading.h"

// One channel's history as the bench chart reads it: per point a time (milliseconds since 1970
// UTC) and a value in the channel's base unit, in the order of time; a point without a value
// (NaN) is a gap, where the channel had no reading until its next point. The points stay in the
// model's history; this class adds what drawing them needs.
//
// A day at ten readings a second is close to a million points a channel. Every block of 16, 256,
// 4096 ... points carries the smallest and largest value in it, so any stretch of points comes
// down to its extremes by reading a few dozen entries, however long the stretch is. The summary
// takes in what the history got since the last time on catchUp(), once a drawing, not a reading.
class BenchStripPoints {
public:
    // Smallest and largest value of some points; empty when none of them had a value.
    struct Range {
        double min = std::numeric_limits<double>::infinity();
        double max = -std::numeric_limits<double>::infinity();

        bool empty() const { return !(min <= max); }
        // a NaN on either side compares false and so is left out
        void take(double lo, double hi) {
            if (lo < min) min = lo;
            if (hi > max) max = hi;
        }
        void take(const Range& other) { take(other.min, other.max); }
    };

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
    static constexpr int kFanBits = 4;  // 16 entries of a level make one of the level above
    static constexpr int64_t kFan = int64_t(1) << kFanBits;
    static constexpr int kLevels = 6;

    void clear();
    Range scan(int level, int64_t first, int64_t last) const;

    const ChannelHistory* history_;
    int64_t done_ = 0;
    // levels_[L][k]: extremes of points [k * 16^(L+1), (k + 1) * 16^(L+1)), for finished blocks
    std::array<std::vector<Range>, kLevels> levels_;
    // the unfinished block of each level, filled as its points come
    std::array<Range, kLevels> open_;
};
