#include "CompactRows.h"

#include <algorithm>
#include <cmath>
#include <utility>

uint32_t TextPool::intern(std::string_view text) {
    const auto it = index_.find(text);
    if (it != index_.end()) return it->second;
    const auto id = static_cast<uint32_t>(texts_->size());
    texts_->emplace_back(text);
    index_.emplace(texts_->back(), id);
    bytes_ += sizeof(std::string) + text.size() + 48;  // string, its characters, a hash node
    return id;
}

void TextPool::clear() {
    index_.clear();
    texts_ = std::make_shared<std::deque<std::string>>();
    bytes_ = 0;
}

TextPool TextPool::shared() const {
    TextPool reader;
    reader.texts_ = texts_;
    reader.bytes_ = bytes_;
    return reader;
}

void TextPool::swap(TextPool& other) noexcept {
    texts_.swap(other.texts_);
    index_.swap(other.index_);
    std::swap(bytes_, other.bytes_);
}

CompactRows::CompactRows() = default;
CompactRows::~CompactRows() = default;

uint32_t CompactRows::kindOf(const RecordRow& row) {
    if (lastKind_ != UINT32_MAX && row.dcAc == lastDcAc_ && row.unit == lastUnit_ &&
        row.autoText == lastAuto_)
        return lastKind_;
    const std::array<uint32_t, 3> parts = {shortTexts_.intern(row.dcAc), shortTexts_.intern(row.unit),
                                           shortTexts_.intern(row.autoText)};
    auto it = kindIndex_.find(parts);
    if (it == kindIndex_.end()) {
        it = kindIndex_.emplace(parts, static_cast<uint32_t>(kinds_.size())).first;
        kinds_.push_back(parts);
    }
    lastDcAc_ = row.dcAc;
    lastUnit_ = row.unit;
    lastAuto_ = row.autoText;
    lastKind_ = it->second;
    return lastKind_;
}

void CompactRows::append(const RecordRow& row) {
    const int64_t block = count_ >> kBlockBits;
    if (block == static_cast<int64_t>(blocks_.size()))
        blocks_.push_back(std::shared_ptr<Packed[]>(new Packed[kBlockRows]));

    Packed& p = blocks_[block][count_ & (kBlockRows - 1)];
    p.no = row.no;
    p.timeMs = row.timeMs;
    p.nval = static_cast<float>(row.nval);
    if (static_cast<double>(p.nval) != row.nval && !std::isnan(row.nval)) exactNval_[count_] = row.nval;
    if (lastValueIndex_ == UINT32_MAX || row.value != lastValue_) {
        lastValueIndex_ = values_.intern(row.value);
        lastValue_ = row.value;
    }
    p.value = lastValueIndex_;
    p.kind = kindOf(row);
    const int32_t offset = row.day == kNoDay ? 0 : row.utcOffsetMin;
    if (dateRuns_.empty() || dateRuns_.back().day != row.day || dateRuns_.back().utcOffsetMin != offset)
        dateRuns_.push_back({count_, row.day, offset});
    ++count_;
}

RecordRow CompactRows::row(int64_t index) const {
    RecordRow r;
    if (index < 0 || index >= count_) return r;
    const Packed& p = blocks_[index >> kBlockBits][index & (kBlockRows - 1)];
    r.no = p.no;
    r.timeMs = p.timeMs;
    r.nval = p.nval;
    if (!exactNval_.empty()) {
        const auto it = exactNval_.find(index);
        if (it != exactNval_.end()) r.nval = it->second;
    }
    r.value = values_.text(p.value);
    const auto& k = kinds_[p.kind];
    r.dcAc = shortTexts_.text(k[0]);
    r.unit = shortTexts_.text(k[1]);
    r.autoText = shortTexts_.text(k[2]);
    const auto run = std::upper_bound(dateRuns_.begin(), dateRuns_.end(), index,
                                      [](int64_t i, const DateRun& d) { return i < d.first; });
    r.day = run[-1].day;
    r.utcOffsetMin = run[-1].utcOffsetMin;
    return r;
}

void CompactRows::clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    count_ = 0;
    values_.clear();
    shortTexts_.clear();
    kinds_.clear();
    kindIndex_.clear();
    exactNval_.clear();
    dateRuns_.clear();
    lastValueIndex_ = UINT32_MAX;
    lastKind_ = UINT32_MAX;
}

std::size_t CompactRows::bytesUsed() const {
    return blocks_.size() * (kBlockRows * sizeof(Packed) + sizeof(blocks_[0])) + values_.bytesUsed() +
           shortTexts_.bytesUsed() + kinds_.size() * (sizeof(kinds_[0]) + 64) + exactNval_.size() * 32 +
           dateRuns_.capacity() * sizeof(DateRun);
}

void CompactRows::swap(CompactRows& other) noexcept {
    blocks_.swap(other.blocks_);
    std::swap(count_, other.count_);
    values_.swap(other.values_);
    shortTexts_.swap(other.shortTexts_);
    kinds_.swap(other.kinds_);
    kindIndex_.swap(other.kindIndex_);
    exactNval_.swap(other.exactNval_);
    dateRuns_.swap(other.dateRuns_);
    lastValue_.swap(other.lastValue_);
    std::swap(lastValueIndex_, other.lastValueIndex_);
    lastDcAc_.swap(other.lastDcAc_);
    lastUnit_.swap(other.lastUnit_);
    lastAuto_.swap(other.lastAuto_);
    std::swap(lastKind_, other.lastKind_);
}

std::shared_ptr<const RecordSource> CompactRows::snapshot() const {
    auto frozen = std::make_shared<CompactRows>();
    frozen->blocks_ = blocks_;
    const int64_t partial = count_ & (kBlockRows - 1);
    if (partial > 0) {
        // the live table goes on writing into its last block; the snapshot keeps its own copy
        auto copy = std::shared_ptr<Packed[]>(new Packed[kBlockRows]);
        std::copy_n(blocks_.back().get(), partial, copy.get());
        frozen->blocks_.back() = std::move(copy);
    }
    frozen->count_ = count_;
    frozen->values_ = values_.shared();
    frozen->shortTexts_ = shortTexts_.shared();
    // a handful of unit combinations, and counts a float cannot hold only from odd files
    frozen->kinds_ = kinds_;
    frozen->exactNval_ = exactNval_;
    frozen->dateRuns_ = dateRuns_;
    return frozen;
}
