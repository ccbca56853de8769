#include "RecordStore.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>

#include "MeterState.h"

RecordStore::RecordStore(RecordState& state, RecordTable& table)
    : state_(state), table_(table), clock_([zone = LocalClock()]() mutable { return zone.now(); }) {}

void RecordStore::setClock(std::function<int32_t()> clock) {
    readingTimes_ = false;
    clock_ = [timeOfDay = std::move(clock)] {
        LocalStamp s;
        s.day = kNoDay;
        s.timeMs = timeOfDay();
        return s;
    };
}

void RecordStore::applyStartValues(RecordState& state) {
    state.RecordNo = 1;
    state.MaxRecords = kRecordLimitItems[kDefaultRecordLimitItem].limit;
    state.RecordCount = 0;
    state.SampleCountdown = 0;
    state.LastRecordKey.clear();
    state.UnsavedRows = false;
    state.NotRecorded = 0;
}

LocalStamp RecordStore::stampOf(const MeterState& reading) {
    return readingTimes_ && reading.ReadingUtcUs != 0 ? zone_.atReadingTime(reading.ReadingUtcUs) : clock_();
}

bool RecordStore::INDataToTable(const MeterState& reading) {
    // exactly MaxRecords rows, then nothing until New
    if (state_.RecordCount >= state_.MaxRecords) {
        ++state_.NotRecorded;
        return false;
    }
    if (state_.RecordSI && state_.SampleCountdown != 0) return false;
    // a closed table (an open that failed) takes no rows and changes nothing
    if (!table_.isOpen()) return false;

    key_.clear();
    key_.append(reading.ValueText).append(reading.AcDcText).append(reading.UnitText).append(reading.AutoText);
    if (state_.RepeatSet && key_ == state_.LastRecordKey) return false;
    state_.LastRecordKey = key_;

    // the interval edit's text was converted when it changed; a text that did not convert left
    // the last good interval in place
    state_.SampleCountdown = state_.SampleInterval;
    ++state_.RecordCount;

    row_.value = reading.ValueText;
    row_.nval = reading.NumericValue;
    const LocalStamp now = stampOf(reading);
    row_.timeMs = now.timeMs;
    row_.day = now.day;
    row_.utcOffsetMin = now.utcOffsetMin;
    row_.no = state_.RecordNo;
    row_.dcAc = reading.AcDcText;
    row_.unit = reading.UnitText;
    row_.autoText = reading.AutoText;
    table_.append(row_);
    ++state_.RecordNo;
    state_.UnsavedRows = true;
    return true;
}

void RecordStore::markSaved(int64_t rowsOnFile) {
    const int64_t rows = table_.rowCount();
    if (rowsOnFile < 0 || rowsOnFile > rows) rowsOnFile = rows;
    state_.UnsavedRows = rowsOnFile < rows;
    // rows that came in after those stay in the journal: it follows the table from here on
    if (journal_) journal_->restart(rowsOnFile);
    if (rowsSaved_) rowsSaved_(rowsOnFile);
}

void RecordStore::TrecordTimer() {
    if (state_.RecordSI && state_.SampleCountdown > 0) --state_.SampleCountdown;
}

Result<> RecordStore::RecordSITimeChange(std::string_view text) {
    const auto seconds = parseInterval(text);
    if (!seconds) return Failure{intervalError(text)};
    state_.SampleInterval = *seconds;
    state_.SampleCountdown = *seconds;
    return {};
}

void RecordStore::RecordNewClick() {
    if (table_.rowCount() > 0) table_.empty();
    state_.RecordNo = 1;
    state_.RecordCount = 0;
    state_.UnsavedRows = false;
    state_.NotRecorded = 0;
    if (journal_) journal_->restart(0);
}

Result<> RecordStore::syncJournal() {
    return journal_ ? journal_->sync(table_) : Result<>();
}

void RecordStore::recoverRows(const RecordSource& rows) {
    const int64_t n = rows.rowCount();
    if (n == 0) return;
    RecordRow last;
    for (int64_t i = 0; i < n; ++i) {
        last = rows.row(i);
        table_.append(last);
    }
    state_.RecordNo = last.no + 1;
    const int64_t count = static_cast<int64_t>(state_.RecordCount) + n;
    state_.RecordCount = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
    state_.UnsavedRows = true;
}

std::optional<int32_t> RecordStore::parseInterval(std::string_view text) {
    if (text.empty()) return std::nullopt;
    // one sign at most: from_chars takes a minus but not a plus
    std::string_view digits = text;
    if (digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') return std::nullopt;
    }
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

std::string RecordStore::limitReachedText(int32_t maxRecords) {
    return "Record limit of " + std::to_string(maxRecords) +
           " rows reached: later readings are not recorded. Save, then New, or choose a higher limit in the "
           "Record menu.";
}

std::string RecordStore::intervalError(std::string_view text) {
    return "'" + std::string(text) + "' is not a valid integer value";
}

void RecordStore::fillForTest(int64_t count) {
    MeterState m;
    m.UnitText = "V";
    m.AcDcText = "DC";
    m.AutoText = "AUTO";
    const bool repeat = state_.RepeatSet;
    const int32_t limit = state_.MaxRecords;
    state_.RepeatSet = false;
    state_.MaxRecords = kRecordLimitItems.back().limit;
    char text[16];
    for (int64_t i = 0; i < count; ++i) {
        const int counts = static_cast<int>(i % 4000);
        const auto n = std::snprintf(text, sizeof text, "%d.%03d", counts / 1000, counts % 1000);
        m.ValueText.assign(text, static_cast<std::size_t>(n));
        m.NumericValue = static_cast<float>(counts);
        if (!INDataToTable(m)) break;
    }
    state_.RepeatSet = repeat;
    state_.MaxRecords = limit;
}
