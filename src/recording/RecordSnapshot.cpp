#include "RecordSnapshot.h"

namespace {

// How many rows are copied between two calls of the progress callback.
constexpr int64_t kProgressStep = 16384;

}  // namespace

std::shared_ptr<const RecordSource> RecordSource::snapshot() const {
    auto copy = std::make_shared<RecordSnapshot>();
    copy->take(*this);
    return copy;
}

bool RecordSnapshot::take(const RecordSource& source, const Progress& progress) {
    clear();
    const int64_t total = source.rowCount();
    rows_.reserve(static_cast<std::size_t>(total));
    for (int64_t i = 0; i < total; ++i) {
        if (progress && i % kProgressStep == 0 && i > 0 && !progress(i, total)) return false;
        append(source.row(i));
    }
    if (progress) progress(total, total);
    return true;
}

void RecordSnapshot::append(const RecordRow& row) {
    rows_.push_back(Packed{row.no, row.timeMs, intern(row.dcAc), intern(row.value), intern(row.unit),
                           intern(row.autoText), row.nval});
}

void RecordSnapshot::clear() {
    rows_.clear();
    texts_.clear();
    textIndex_.clear();
}

RecordRow RecordSnapshot::row(int64_t index) const {
    if (index < 0 || index >= rowCount()) return {};
    const Packed& p = rows_[static_cast<std::size_t>(index)];
    RecordRow r;
    r.no = p.no;
    r.timeMs = p.timeMs;
    r.dcAc = texts_[p.dcAc];
    r.value = texts_[p.value];
    r.unit = texts_[p.unit];
    r.autoText = texts_[p.autoText];
    r.nval = p.nval;
    return r;
}

uint32_t RecordSnapshot::intern(const std::string& text) {
    const auto [it, added] = textIndex_.try_emplace(text, static_cast<uint32_t>(texts_.size()));
    if (added) texts_.push_back(text);
    return it->second;
}
