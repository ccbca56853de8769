#include "BenchStripPoints.h"

#include <algorithm>

void BenchStripPoints::setHistory(const ChannelHistory* history) {
    history_ = history;
    clear();
}

void BenchStripPoints::clear() {
    for (auto& level : levels_) level.clear();
    open_.fill(Range{});
    done_ = 0;
}

// Each level folds a value into its open block; a block that is full is closed and folded into
// the block above it. A point costs one comparison per level it closes, about 1.07 on average.
void BenchStripPoints::catchUp() {
    if (!history_) return;
    const int64_t size = int64_t(std::min(history_->timeMs.size(), history_->value.size()));
    if (size < done_) clear();
    for (; done_ < size; ++done_) {
        const double v = value(done_);
        open_[0].take(v, v);
        int64_t finished = done_ + 1;
        for (int level = 0; level < kLevels && finished % kFan == 0; ++level) {
            levels_[level].push_back(open_[level]);
            if (level + 1 < kLevels) open_[level + 1].take(open_[level]);
            open_[level] = Range{};
            finished /= kFan;
        }
    }
}

int64_t BenchStripPoints::lowerBound(int64_t timeMs) const {
    if (done_ == 0) return 0;
    const auto begin = history_->timeMs.begin();
    return std::lower_bound(begin, begin + done_, timeMs) - begin;
}

// Entries [first, last) of a level; level -1 is the points themselves.
BenchStripPoints::Range BenchStripPoints::scan(int level, int64_t first, int64_t last) const {
    Range r;
    if (level < 0) {
        for (int64_t i = first; i < last; ++i) r.take(value(i), value(i));
    } else {
        for (int64_t i = first; i < last; ++i) r.take(levels_[size_t(level)][size_t(i)]);
    }
    return r;
}

// The ends of the stretch that do not fill a whole block are read at the finer level, the whole
// blocks between them one level up, and so on: at most 2 x 15 entries a level.
BenchStripPoints::Range BenchStripPoints::range(int64_t first, int64_t last) const {
    Range r;
    int64_t a = std::max<int64_t>(first, 0);
    int64_t b = std::min(last, done_);
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
