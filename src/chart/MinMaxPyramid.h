#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

// The smallest and largest value of any stretch of a series that grows at its end, in time that
// hardly depends on the stretch's length. Every finished block of 16, 256, 4096 ... entries
// carries the extremes of the entries in it; a stretch is read at the finest level only at its
// ragged ends and a level up for the whole blocks between them, so at most 2 x 15 entries a level
// are read. The entries themselves stay with the owner, which hands range() a reader of them.
//
// A series that keeps only its recent part says where it now begins with forgetBefore(); blocks
// wholly before that are let go, and no stretch is read before it.
template <typename T>
class MinMaxPyramid {
public:
    struct Range {
        T min = std::numeric_limits<T>::infinity();
        T max = -std::numeric_limits<T>::infinity();

        bool empty() const { return !(min <= max); }
        // a NaN on either side compares false and so is left out
        void take(T lo, T hi) {
            if (lo < min) min = lo;
            if (hi > max) max = hi;
        }
        void take(const Range& other) { take(other.min, other.max); }
    };

    // The extremes of entry size(); a value alone is add(v, v).
    void add(T lo, T hi) {
        open_[0].take(lo, hi);
        int64_t finished = ++size_;
        for (int level = 0; level < kLevels && finished % kFan == 0; ++level) {
            levels_[level].push_back(open_[level]);
            if (level + 1 < kLevels) open_[level + 1].take(open_[level]);
            open_[level] = Range{};
            finished /= kFan;
        }
    }

    void clear() {
        for (auto& level : levels_) level.clear();
        dropped_.fill(0);
        open_.fill(Range{});
        size_ = 0;
        begin_ = 0;
    }

    int64_t size() const { return size_; }
    int64_t begin() const { return begin_; }

    // Entries before `index` are no longer read.
    void forgetBefore(int64_t index) {
        if (index <= begin_) return;
        begin_ = index < size_ ? index : size_;
        int64_t whole = begin_;  // blocks of a level wholly before begin_
        for (int level = 0; level < kLevels; ++level) {
            whole >>= kFanBits;
            auto& entries = levels_[level];
            const int64_t drop = whole - dropped_[level];
            // let go in batches, so that a series forgetting a little at a time moves little
            if (drop < 64 || drop * 2 < int64_t(entries.size())) continue;
            entries.erase(entries.begin(), entries.begin() + drop);
            dropped_[level] = whole;
        }
    }

    // Extremes of the entries [first, last), clipped to [begin(), size()). `entry(i)` gives the
    // Range of entry i.
    template <typename Entry>
    Range range(int64_t first, int64_t last, const Entry& entry) const {
        Range r;
        int64_t a = first > begin_ ? first : begin_;
        int64_t b = last < size_ ? last : size_;
        for (int level = -1; a < b; ++level) {
            const bool top = level + 1 == kLevels;
            const int64_t up = top ? b : std::min(b, (a + kFan - 1) & ~(kFan - 1));
            const int64_t down = top ? b : std::max(up, b & ~(kFan - 1));
            scan(r, level, a, up, entry);
            scan(r, level, down, b, entry);
            a = up >> kFanBits;
            b = down >> kFanBits;
        }
        return r;
    }

private:
    static constexpr int kFanBits = 4;  // 16 entries of a level make one of the level above
    static constexpr int64_t kFan = int64_t(1) << kFanBits;
    static constexpr int kLevels = 6;

    template <typename Entry>
    void scan(Range& r, int level, int64_t a, int64_t b, const Entry& entry) const {
        if (level < 0) {
            for (int64_t i = a; i < b; ++i) r.take(entry(i));
        } else {
            const auto& entries = levels_[size_t(level)];
            const int64_t base = dropped_[size_t(level)];
            for (int64_t i = a; i < b; ++i) r.take(entries[size_t(i - base)]);
        }
    }

    // levels_[L][k - dropped_[L]]: extremes of entries [k * 16^(L+1), (k + 1) * 16^(L+1))
    std::array<std::vector<Range>, kLevels> levels_;
    std::array<int64_t, kLevels> dropped_{};
    // the unfinished block of each level, filled as its entries come
    std::array<Range, kLevels> open_;
    int64_t size_ = 0;
    int64_t begin_ = 0;
};
