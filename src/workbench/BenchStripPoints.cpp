#include "BenchStripPoints.h"

#include <algorithm>

void BenchStripPoints::setHistory(const ChannelHistory* history) {
    history_ = history;
    taken_.clear();
    layout_.revision = ~uint64_t(0);
}

void BenchStripPoints::catchUp() {
    taken_.clear();
    layout_.revision = ~uint64_t(0);
    if (!history_) return;
    for (int k = 0; k < history_->levelCount(); ++k) taken_.push_back(history_->level(k).end());
}

const BenchStripPoints::Layout& BenchStripPoints::layout() const {
    if (!history_ || taken_.empty()) {
        layout_ = Layout{};
        return layout_;
    }
    if (layout_.revision == history_->revision()) return layout_;
    layout_.revision = history_->revision();
    layout_.parts.clear();
    layout_.size = 0;
    for (const ChannelHistory::Segment& s : history_->segments(&taken_)) {
        layout_.parts.push_back(Part{&history_->level(s.level), s.from, s.to, layout_.size});
        layout_.size += s.to - s.from;
    }
    return layout_;
}

// Most reads are of the recent points: the parts are searched from the newest.
const BenchStripPoints::Part& BenchStripPoints::at(int64_t i) const {
    const std::vector<Part>& parts = layout().parts;
    for (size_t k = parts.size(); k-- > 1;) {
        if (i >= parts[k].offset) return parts[k];
    }
    return parts.front();
}

int64_t BenchStripPoints::lowerBound(int64_t timeMs) const {
    const Layout& l = layout();
    for (const Part& p : l.parts) {
        if (p.series->time(p.to - 1) >= timeMs)
            return p.offset + p.series->lowerBound(timeMs, p.from, p.to) - p.from;
    }
    return l.size;
}

BenchStripPoints::Range BenchStripPoints::range(int64_t first, int64_t last) const {
    Range r;
    for (const Part& p : layout().parts) {
        const int64_t a = std::max(first, p.offset);
        const int64_t b = std::min(last, p.offset + p.size());
        if (a < b) r.take(p.series->range(a - p.offset + p.from, b - p.offset + p.from));
    }
    return r;
}
