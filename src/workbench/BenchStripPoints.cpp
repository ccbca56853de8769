#include "BenchStripPoints.h"

#include <algorithm>

void BenchStripPoints::add(int64_t timeMs, float value) {
    if (std::isnan(value)) {
        addGap(timeMs);
        return;
    }
    append(timeMs, value);
}

void BenchStripPoints::addGap(int64_t timeMs) {
    if (size_ > 0 && isGap(size_ - 1)) return;
    append(timeMs, std::numeric_limits<float>::quiet_NaN());
}

void BenchStripPoints::clear() {
    chunks_.clear();
    chunkStarts_.clear();
    for (auto& level : levels_) level.clear();
    open_.fill(Range{});
    size_ = 0;
}

// Each level folds the value into its open block; a block that is full is closed and folded into
// the block above it. A point costs one comparison per level it closes, about 1.07 on average.
void BenchStripPoints::append(int64_t timeMs, float value) {
    if (size_ > 0) timeMs = std::max(timeMs, time(size_ - 1));
    if ((size_ & kChunkMask) == 0) {
        chunks_.push_back(std::make_unique<Chunk>());
        chunkStarts_.push_back(timeMs);
    }
    Chunk& chunk = *chunks_.back();
    chunk.times[size_ & kChunkMask] = timeMs;
    chunk.values[size_ & kChunkMask] = value;
    ++size_;
    open_[0].take(value, value);
    int64_t finished = size_;
    for (int level = 0; level < kLevels && finished % kFan == 0; ++level) {
        levels_[level].push_back(open_[level]);
        if (level + 1 < kLevels) open_[level + 1].take(open_[level]);
        open_[level] = Range{};
        finished /= kFan;
    }
}

int64_t BenchStripPoints::lowerBound(int64_t timeMs) const {
    if (size_ == 0) return 0;
    // the last chunk starting at or before timeMs holds the answer, or it is the next chunk's first point
    auto it = std::upper_bound(chunkStarts_.begin(), chunkStarts_.end(), timeMs);
    if (it == chunkStarts_.begin()) return 0;
    const int64_t c = (it - chunkStarts_.begin()) - 1;
    const int64_t first = c << kChunkBits;
    const int64_t count = std::min(kChunkSize, size_ - first);
    const int64_t* times = chunks_[c]->times;
    // points of one time sit side by side: the first of them is wanted
    return first + (std::lower_bound(times, times + count, timeMs) - times);
}

// Entries [first, last) of a level; level -1 is the points themselves.
BenchStripPoints::Range BenchStripPoints::scan(int level, int64_t first, int64_t last) const {
    Range r;
    if (level < 0) {
        for (int64_t i = first; i < last; ++i) r.take(value(i), value(i));
    } else {
        for (int64_t i = first; i < last; ++i) r.take(levels_[level][i]);
    }
    return r;
}

// The ends of the stretch that do not fill a whole block are read at the finer level, the whole
// blocks between them one level up, and so on: at most 2 x 15 entries a level.
BenchStripPoints::Range BenchStripPoints::range(int64_t first, int64_t last) const {
    Range r;
    int64_t a = std::max<int64_t>(first, 0);
    int64_t b = std::min(last, size_);
    int level = -1;
    while (a < b) {
        const bool top = level + 1 == kLevels;
        const int64_t up = top ? b : std::min(b, (a + kFan - 1) & ~(kFan - 1));
        const int64_t down = top ? b : std::max(up, b & ~(kFan - 1));
        r.take(scan(level, a, up));
        r.take(scan(level, down, b));
        a = up >> kFanBits;
        b = down >> kFanBits;
        ++level;
    }
    return r;
}
