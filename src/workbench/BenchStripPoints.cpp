#include "BenchStripPoints.h"

#include <algorithm>

void BenchStripPoints::setHistory(const ChannelHistory* history) {
    history_ = history;
    clear();
}

void BenchStripPoints::clear() {
    summary_.clear();
    done_ = 0;
}

void BenchStripPoints::catchUp() {
    if (!history_) return;
    const int64_t size = int64_t(std::min(history_->timeMs.size(), history_->value.size()));
    if (size < done_) clear();
    for (; done_ < size; ++done_) {
        const double v = value(done_);
        summary_.add(v, v);
    }
}

int64_t BenchStripPoints::lowerBound(int64_t timeMs) const {
    if (done_ == 0) return 0;
    const auto begin = history_->timeMs.begin();
    return std::lower_bound(begin, begin + done_, timeMs) - begin;
}

BenchStripPoints::Range BenchStripPoints::range(int64_t first, int64_t last) const {
    return summary_.range(first, last, [this](int64_t i) {
        const double v = value(i);
        return Range{v, v};
    });
}
