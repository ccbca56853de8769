#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "RecordRow.h"

// Each distinct text once, addressed by a small index. Readings repeat the same few units and a
// bounded set of value texts, so a day of rows needs only a few thousand entries here.
class TextPool {
public:
    uint32_t intern(std::string_view text);
    const std::string& text(uint32_t index) const { return (*texts_)[index]; }
    std::size_t size() const { return texts_->size(); }
    std::size_t bytesUsed() const { return bytes_; }
    // Starts afresh; a pool shared() earlier keeps the texts it had.
    void clear();
    // The views in the index point into the strings of the deque, which a swap leaves in place.
    void swap(TextPool& other) noexcept;
    // A pool that reads the texts interned so far without copying them. Texts are only ever added
    // to a deque, so later interns leave the shared ones where they are.
    TextPool shared() const;

private:
    // a deque keeps the strings in place for the views below
    std::shared_ptr<std::deque<std::string>> texts_ = std::make_shared<std::deque<std::string>>();
    std::unordered_map<std::string_view, uint32_t> index_;
    std::size_t bytes_ = 0;
};

// Rows in 20 bytes each: number, time, the count as a float, the value text's index and the index
// of its (DC/AC, unit, Auto) combination. Rows live in fixed blocks, so appending never moves the
// rows already stored and the cost of an append does not grow with the table. A full block is never
// written again, which lets a snapshot share it. The day and UTC offset of a row change once a day
// at most, so they are kept as runs of rows, not per row.
class CompactRows : public RecordSource {
public:
    CompactRows();
    ~CompactRows() override;
    CompactRows(const CompactRows&) = delete;
    CompactRows& operator=(const CompactRows&) = delete;

    // The rows as they stand now, in time and memory that do not grow with the table: the full
    // blocks and the texts are shared, only the last, partly filled block is copied. Rows appended
    // later, clear() and swap() leave the snapshot as it is.
    std::shared_ptr<const RecordSource> snapshot() const override;

    int64_t rowCount() const override { return count_; }
    RecordRow row(int64_t index) const override;

    void append(const RecordRow& row);
    void clear();
    // Exchanges all rows with `other` without copying them.
    void swap(CompactRows& other) noexcept;

    // Heap bytes held for the rows and their texts.
    std::size_t bytesUsed() const;

private:
    struct Packed {
        int32_t no;
        int32_t timeMs;
        float nval;
        uint32_t value;
        uint32_t kind;
    };
    static_assert(sizeof(Packed) == 20, "a row is meant to take 20 bytes");
    static constexpr int kBlockBits = 16;
    static constexpr int64_t kBlockRows = int64_t(1) << kBlockBits;

    uint32_t kindOf(const RecordRow& row);

    // From row `first` on, up to the next run, the rows share this day and offset.
    struct DateRun {
        int64_t first;
        int32_t day;
        int32_t utcOffsetMin;
    };

    std::vector<std::shared_ptr<Packed[]>> blocks_;
    int64_t count_ = 0;
    TextPool values_;
    TextPool shortTexts_;  // DC/AC, unit and Auto texts
    std::vector<std::array<uint32_t, 3>> kinds_;
    std::map<std::array<uint32_t, 3>, uint32_t> kindIndex_;
    // counts that a float cannot hold exactly (only rows read from files can have them)
    std::unordered_map<int64_t, double> exactNval_;
    std::vector<DateRun> dateRuns_;

    // the previous row's texts, which the next row nearly always repeats
    std::string lastValue_;
    uint32_t lastValueIndex_ = UINT32_MAX;
    std::string lastDcAc_, lastUnit_, lastAuto_;
    uint32_t lastKind_ = UINT32_MAX;
};
