#include "ChartPoints.h"

#include <algorithm>
#include <limits>

ChartPoints::ChartPoints() = default;

void ChartPoints::add(int series, float y) {
    if (series < 0 || series >= SeriesCount) return;
    if (count_[series] == size_) append(y);
    ++count_[series];
}

void ChartPoints::sampleFill() {
    clear();
    for (int s = 0; s < SeriesCount; ++s) add(s, 0.0f);
}

void ChartPoints::clear() {
    chunks_.clear();
    for (auto& level : levels_) level.clear();
    size_ = 0;
    count_.fill(0);
    breaks_.clear();
}

void ChartPoints::breakLine() {
    if (size_ == 0 || (!breaks_.empty() && breaks_.back() == size_)) return;
    breaks_.push_back(size_);
}

int64_t ChartPoints::nextBreak(int64_t index) const {
    const auto it = std::lower_bound(breaks_.begin(), breaks_.end(), index);
    return it == breaks_.end() ? std::numeric_limits<int64_t>::max() : *it;
}

// A block's range is written when its last point arrives, from the 16 values or ranges below
// it, so the summary costs about one read per point and only finished blocks are summarised.
void ChartPoints::append(float y) {
    const int64_t i = size_;
    if ((i & kChunkMask) == 0) chunks_.push_back(std::make_unique<float[]>(kChunkSize));
    chunks_.back()[i & kChunkMask] = y;
    ++size_;
    constexpr int64_t factor = int64_t(1) << kLevelBits;
    if (size_ % factor != 0) return;
    Range r{y, y};
    for (int64_t k = size_ - factor; k < size_ - 1; ++k) {
        r.min = std::min(r.min, value(k));
        r.max = std::max(r.max, value(k));
    }
    levels_[0].push_back(r);
    for (int l = 1; l < kLevels && levels_[l - 1].size() % factor == 0; ++l) {
        const auto& below = levels_[l - 1];
        Range up = below.back();
        for (auto k = below.size() - factor; k < below.size() - 1; ++k) {
            up.min = std::min(up.min, below[k].min);
            up.max = std::max(up.max, below[k].max);
        }
        levels_[l].push_back(up);
    }
}

// Walks up the summary: the unaligned ends of the range are read at the finer level, the whole
// blocks between them one level up, and so on, so at most 2 x 15 entries are read per level.
ChartPoints::Range ChartPoints::range(int64_t first, int64_t last) const {
    Range r{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    auto take = [&r](float lo, float hi) {
        r.min = std::min(r.min, lo);
        r.max = std::max(r.max, hi);
    };
    auto scan = [&](int level, int64_t a, int64_t b) {
        if (level < 0) {
            for (int64_t i = a; i < b; ++i) take(value(i), value(i));
        } else {
            const auto& entries = levels_[level];
            for (int64_t i = a; i < b; ++i) take(entries[i].min, entries[i].max);
        }
    };
    constexpr int64_t factor = int64_t(1) << kLevelBits;
    int64_t a = std::max<int64_t>(first, 0);
    int64_t b = std::min(last, size_);
    for (int level = -1; a < b; ++level) {
        if (level + 1 == kLevels) {
            scan(level, a, b);
            break;
        }
        const int64_t aUp = std::min(b, (a + factor - 1) / factor * factor);
        const int64_t bDown = std::max(aUp, b / factor * factor);
        scan(level, a, aUp);
        scan(level, bDown, b);
        a = aUp / factor;
        b = bDown / factor;
    }
    return r;
}
