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
    summary_.clear();
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

void ChartPoints::append(float y) {
    const int64_t i = size_;
    if ((i & kChunkMask) == 0) chunks_.push_back(std::make_unique<float[]>(kChunkSize));
    chunks_.back()[i & kChunkMask] = y;
    ++size_;
    summary_.add(y, y);
}

ChartPoints::Range ChartPoints::range(int64_t first, int64_t last) const {
    return summary_.range(first, last, [this](int64_t i) {
        const float v = value(i);
        return Range{v, v};
    });
}
