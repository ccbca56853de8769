#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

// The readings of one channel as the bench chart keeps them: per point a time (milliseconds since
// 1970 UTC) and a value in the channel's base unit, in the order of time. A point without a value
// (NaN) is a gap: the channel had no reading from then until its next point.
//
// A day at ten readings a second is close to a million points a channel. Points live in chunks
// that never move once filled, and every block of 16, 256, 4096 ... points carries the smallest
// and largest value in it, so any stretch of points comes down to its extremes by reading a few
// dozen entries, however long the stretch is.
class BenchStripPoints {
public:
    // Smallest and largest value of some points; empty when none of them had a value.
    struct Range {
        float min = std::numeric_limits<float>::infinity();
        float max = -std::numeric_limits<float>::infinity();

        bool empty() const { return !(min <= max); }
        // a NaN on either side compares false and so is left out
        void take(float lo, float hi) {
            if (lo < min) min = lo;
            if (hi > max) max = hi;
        }
        void take(const Range& other) { take(other.min, other.max); }
    };

    BenchStripPoints() = default;
    BenchStripPoints(BenchStripPoints&&) noexcept = default;
    BenchStripPoints& operator=(BenchStripPoints&&) noexcept = default;

    // A time before the last point's (a clock set back) is taken as the last point's time, so the
    // points stay in order.
    void add(int64_t timeMs, float value);
    // A gap from timeMs on; nothing when the last point is a gap already.
    void addGap(int64_t timeMs);
    void clear();

    int64_t size() const { return size_; }
    int64_t time(int64_t i) const { return chunks_[i >> kChunkBits]->times[i & kChunkMask]; }
    float value(int64_t i) const { return chunks_[i >> kChunkBits]->values[i & kChunkMask]; }
    bool isGap(int64_t i) const { return std::isnan(value(i)); }

    // Index of the first point at or after timeMs; size() when there is none.
    int64_t lowerBound(int64_t timeMs) const;
    // Extremes of the points [first, last), clipped to the points held.
    Range range(int64_t first, int64_t last) const;

private:
    static constexpr int kChunkBits = 14;
    static constexpr int64_t kChunkSize = int64_t(1) << kChunkBits;
    static constexpr int64_t kChunkMask = kChunkSize - 1;
    static constexpr int kFanBits = 4;  // 16 entries of a level make one of the level above
    static constexpr int64_t kFan = int64_t(1) << kFanBits;
    static constexpr int kLevels = 6;

    struct Chunk {
        int64_t times[kChunkSize];
        float values[kChunkSize];
    };

    void append(int64_t timeMs, float value);
    Range scan(int level, int64_t first, int64_t last) const;

    std::vector<std::unique_ptr<Chunk>> chunks_;
    // the time of each chunk's first point, searched before the chunk itself
    std::vector<int64_t> chunkStarts_;
    // levels_[L][k]: extremes of points [k * 16^(L+1), (k + 1) * 16^(L+1)), for finished blocks
    std::array<std::vector<Range>, kLevels> levels_;
    // the unfinished block of each level, filled as its points come
    std::array<Range, kLevels> open_;
    int64_t size_ = 0;
};
