#include "ChannelHistory.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

int64_t bucketOf(int64_t timeMs, int64_t bucketMs) {
    return timeMs >= 0 ? timeMs / bucketMs : (timeMs - bucketMs + 1) / bucketMs;
}

}  // namespace

int64_t HistorySeries::lowerBound(int64_t timeMs, int64_t from, int64_t to) const {
    while (from < to) {
        const int64_t mid = from + (to - from) / 2;
        if (time(mid) < timeMs)
            from = mid + 1;
        else
            to = mid;
    }
    return from;
}

void HistorySeries::add(int64_t timeMs, double min, double max, double mean) {
    const int64_t i = end();
    time_.set(i, timeMs);
    value_.set(i, mean);
    if (bucketMs_ > 0) {
        min_.set(i, min);
        max_.set(i, max);
    }
    summary_.add(min, max);
}

void HistorySeries::forgetBefore(int64_t index) {
    summary_.forgetBefore(index);
    const int64_t kept = summary_.begin();
    time_.forgetBefore(kept);
    value_.forgetBefore(kept);
    min_.forgetBefore(kept);
    max_.forgetBefore(kept);
}

void HistorySeries::clear() {
    summary_.clear();
    time_.clear();
    value_.clear();
    min_.clear();
    max_.clear();
}

std::size_t HistorySeries::bytes() const {
    // the pyramid holds about one Range for 15 entries
    const auto entries = std::size_t(end() - begin());
    return time_.bytes() + value_.bytes() + min_.bytes() + max_.bytes() + entries / 15 * sizeof(Range);
}

std::vector<ChannelHistory::Level> ChannelHistory::defaultLevels() {
    return {{0, 3'600'000}, {1'000, 86'400'000}, {60'000, 0}};
}

ChannelHistory::ChannelHistory(const std::vector<Level>& levels) {
    for (const Level& l : levels) levels_.push_back(Tier{l, HistorySeries(l.bucketMs), {}});
    if (levels_.empty() || levels_.front().shape.bucketMs != 0)
        levels_.insert(levels_.begin(), Tier{{0, 0}, HistorySeries(0), {}});
}

void ChannelHistory::close(Tier& tier) {
    Open& o = tier.open;
    if (o.n == 0) return;
    tier.series.add(o.firstMs, o.min, o.max, o.sum / double(o.n));
    o.n = 0;
}

void ChannelHistory::add(int64_t timeMs, double value) {
    ++revision_;
    firstMs_ = count_ == 0 ? timeMs : std::min(firstMs_, timeMs);
    lastMs_ = count_ == 0 ? timeMs : std::max(lastMs_, timeMs);
    lastValue_ = value;
    ++count_;
    const bool gap = std::isnan(value);
    for (size_t k = 1; k < levels_.size(); ++k) {
        Tier& tier = levels_[k];
        Open& o = tier.open;
        const int64_t bucket = bucketOf(timeMs, tier.shape.bucketMs);
        // a reading dated before the open bucket goes into it, so entries stay in the order of time
        if (o.n > 0 && (gap || bucket > o.bucket)) close(tier);
        HistorySeries& s = tier.series;
        if (gap) {
            // one gap entry for a run of them
            if (s.empty() || !s.isGap(s.end() - 1)) s.add(timeMs, NAN, NAN, NAN);
        } else if (o.n == 0) {
            o = Open{bucket, timeMs, value, value, value, 1};
        } else {
            o.min = std::min(o.min, value);
            o.max = std::max(o.max, value);
            o.sum += value;
            ++o.n;
        }
    }
    HistorySeries& readings = levels_.front().series;
    readings.add(timeMs, value, value, value);
    if (readings.end() % 4096 == 0) forgetOld();
}

// A level keeps what is within its time from the newest reading, and whatever a coarser level
// still holds in an open bucket.
void ChannelHistory::forgetOld() {
    int64_t openFrom = kNever;
    for (size_t k = levels_.size(); k-- > 0;) {
        Tier& tier = levels_[k];
        HistorySeries& s = tier.series;
        if (tier.shape.keptMs > 0) {
            const int64_t cutoff = std::min(lastMs_ - tier.shape.keptMs, openFrom);
            s.forgetBefore(s.lowerBound(cutoff, s.begin(), s.end()));
        }
        if (k > 0 && tier.open.n > 0) openFrom = std::min(openFrom, tier.open.firstMs);
    }
}

void ChannelHistory::clear() {
    ++revision_;
    for (Tier& tier : levels_) {
        tier.series.clear();
        tier.open = Open{};
    }
    count_ = 0;
    firstMs_ = lastMs_ = 0;
    lastValue_ = NAN;
}

std::vector<ChannelHistory::Segment> ChannelHistory::segments(const std::vector<int64_t>* ends) const {
    std::vector<Segment> out;
    int64_t coveredFrom = kNever;  // where the finer levels read so far begin
    for (size_t k = 0; k < levels_.size(); ++k) {
        const HistorySeries& s = levels_[k].series;
        const int64_t from = s.begin();
        int64_t to = s.end();
        if (ends && k < ends->size()) to = std::min(to, (*ends)[k]);
        if (coveredFrom != kNever && from < to) to = s.lowerBound(coveredFrom, from, to);
        if (from >= to) continue;
        out.push_back(Segment{int(k), from, to});
        coveredFrom = std::min(coveredFrom, s.time(from));
    }
    std::reverse(out.begin(), out.end());
    return out;
}

std::size_t ChannelHistory::bytes() const {
    std::size_t sum = 0;
    for (const Tier& tier : levels_) sum += tier.series.bytes();
    return sum;
}

bool ChannelHistory::Cursor::moveTo(int64_t timeMs) {
    while (part_ < parts_.size()) {
        const Segment& s = parts_[part_];
        const HistorySeries& level = history_->level(s.level);
        next_ = std::max(next_, s.from);
        if (next_ >= s.to) {
            ++part_;
            next_ = 0;
            continue;
        }
        if (level.time(next_) > timeMs) break;
        time_ = level.time(next_);
        value_ = level.value(next_++);
        bucketMs_ = level.bucketMs();
        seen_ = true;
    }
    return seen_;
}
