#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "MinMaxPyramid.h"

// One column of a series, in chunks of 4096 entries, indexed from the series' start; only whole
// chunks before a given index are let go, so appending and forgetting never move what is kept.
template <typename T>
class ChunkedColumn {
public:
    const T& operator[](int64_t i) const { return chunks_[size_t((i >> kBits) - first_)][i & kMask]; }
    // `i` is the index after the last one set
    void set(int64_t i, T value) {
        if ((i & kMask) == 0) chunks_.push_back(std::make_unique<T[]>(kSize));
        chunks_.back()[i & kMask] = value;
    }
    void forgetBefore(int64_t index) {
        const int64_t whole = index >> kBits;
        if (whole <= first_) return;
        const auto drop = std::min<std::size_t>(std::size_t(whole - first_), chunks_.size());
        chunks_.erase(chunks_.begin(), chunks_.begin() + std::ptrdiff_t(drop));
        first_ = whole;
    }
    void clear() {
        chunks_.clear();
        first_ = 0;
    }
    std::size_t bytes() const { return chunks_.size() * (kSize * sizeof(T) + sizeof(void*)); }

private:
    static constexpr int kBits = 12;
    static constexpr int64_t kSize = int64_t(1) << kBits;
    static constexpr int64_t kMask = kSize - 1;
    std::vector<std::unique_ptr<T[]>> chunks_;
    int64_t first_ = 0;  // index of chunks_[0] among all chunks since the start
};

// One level of a channel's history, in the order of time: the readings themselves (bucketMs 0),
// or an entry per time bucket with the smallest, largest and mean value of the readings in it,
// dated by its first reading. An entry without a value (NaN) is a gap: the channel had no value
// from it to the next entry. Indices count from the level's start; the oldest entries may have
// been let go, begin() is the first one kept.
class HistorySeries {
public:
    using Range = MinMaxPyramid<double>::Range;

    explicit HistorySeries(int64_t bucketMs = 0) : bucketMs_(bucketMs) {}

    int64_t bucketMs() const { return bucketMs_; }
    int64_t begin() const { return summary_.begin(); }
    int64_t end() const { return summary_.size(); }
    bool empty() const { return begin() == end(); }

    int64_t time(int64_t i) const { return time_[i]; }
    // a reading's value, a bucket's mean
    double value(int64_t i) const { return value_[i]; }
    bool isGap(int64_t i) const { return std::isnan(value(i)); }
    Range extremes(int64_t i) const {
        return bucketMs_ == 0 ? Range{value_[i], value_[i]} : Range{min_[i], max_[i]};
    }
    // The first entry in [from, to) at or after timeMs; `to` when there is none.
    int64_t lowerBound(int64_t timeMs, int64_t from, int64_t to) const;
    // Extremes of the entries [first, last), clipped to those kept.
    Range range(int64_t first, int64_t last) const {
        return summary_.range(first, last, [this](int64_t i) { return extremes(i); });
    }

    void add(int64_t timeMs, double min, double max, double mean);
    void forgetBefore(int64_t index);
    void clear();
    std::size_t bytes() const;

private:
    int64_t bucketMs_;
    ChunkedColumn<int64_t> time_;
    ChunkedColumn<double> value_;
    ChunkedColumn<double> min_;  // buckets only
    ChunkedColumn<double> max_;
    MinMaxPyramid<double> summary_;
};

// Everything a channel read, in levels that stay bounded over weeks: the readings of the last
// hour or so as they came, and older ones as the smallest, largest and mean value per second
// (for a day) and per minute (for ever). Times are milliseconds since 1970 UTC, values in the
// channel's base unit; NaN is a gap (an overload, a stale input, the channel going offline).
//
// A reading goes into the open bucket of each coarser level at once; a level lets go of its
// oldest entries only once every coarser level has closed the buckets they went into, so some
// level always holds every moment. Together the levels read as one series in time: the coarsest
// up to where the next finer one starts, and so on to the readings (segments()).
class ChannelHistory {
public:
    struct Level {
        int64_t bucketMs;  // 0: the readings themselves
        int64_t keptMs;    // how far back from the newest reading; 0: for ever
    };
    static std::vector<Level> defaultLevels();

    ChannelHistory() : ChannelHistory(defaultLevels()) {}
    // levels from the finest (the readings) to the coarsest
    explicit ChannelHistory(const std::vector<Level>& levels);

    void add(int64_t timeMs, double value);
    void clear();

    bool empty() const { return count_ == 0; }
    uint64_t count() const { return count_; }  // readings added
    int64_t firstTime() const { return firstMs_; }
    int64_t lastTime() const { return lastMs_; }
    double lastValue() const { return lastValue_; }
    // grows with every change: what a reader worked out from the levels holds while it is the same
    uint64_t revision() const { return revision_; }

    int levelCount() const { return int(levels_.size()); }
    const HistorySeries& level(int i) const { return levels_[size_t(i)].series; }

    // A stretch of one level; the segments of a history follow each other in time.
    struct Segment {
        int level;
        int64_t from;  // entries [from, to) of that level
        int64_t to;
    };
    // The history as one series: each level's entries from before where the next finer one
    // starts, oldest first. `ends` limits each level to the entries it had then (a reader's
    // earlier view); nullptr takes everything.
    std::vector<Segment> segments(const std::vector<int64_t>* ends = nullptr) const;

    // memory held by the levels, in bytes
    std::size_t bytes() const;

    // Walks the history in the order of time over all its levels (segments()), forwards only.
    class Cursor {
    public:
        explicit Cursor(const ChannelHistory& history) : history_(&history), parts_(history.segments()) {}

        // Moves on to the last point at or before timeMs; false while there is none.
        bool moveTo(int64_t timeMs);
        // the point moved to: its time, its value (a reading's, a bucket's mean; NaN: a gap)
        // and the width of its bucket (0: a reading)
        int64_t time() const { return time_; }
        double value() const { return value_; }
        int64_t bucketMs() const { return bucketMs_; }
        bool seen() const { return seen_; }

    private:
        const ChannelHistory* history_;
        std::vector<Segment> parts_;
        std::size_t part_ = 0;
        int64_t next_ = 0;
        int64_t time_ = 0;
        double value_ = NAN;
        int64_t bucketMs_ = 0;
        bool seen_ = false;
    };

private:
    struct Open {
        int64_t bucket = 0;
        int64_t firstMs = 0;
        double min = 0;
        double max = 0;
        double sum = 0;
        int64_t n = 0;
    };
    struct Tier {
        Level shape;
        HistorySeries series;
        Open open;  // buckets only
    };

    void close(Tier& tier);
    void forgetOld();

    std::vector<Tier> levels_;
    uint64_t count_ = 0;
    uint64_t revision_ = 0;
    int64_t firstMs_ = 0;
    int64_t lastMs_ = 0;
    double lastValue_ = NAN;
};
