#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LocalClock.h"
#include "RecordJournal.h"
#include "RecordTable.h"
#include "Result.h"

struct MeterState;

// What the store keeps between readings, and the states of the controls its rules read.
struct RecordState {
    int32_t MaxRecords = 10000;   // record limit chosen in the Record menu
    int32_t RecordCount = 0;      // readings stored since start or the last New
    int32_t RecordNo = 1;         // "no" of the next stored row
    int32_t SampleCountdown = 0;  // timer ticks left before a reading may be stored (sampling on)
    std::string LastRecordKey;    // value, DC/AC, unit and Auto texts of the last stored reading

    // the interval the countdown reloads from: the last text of the interval edit that converted
    int32_t SampleInterval = 10;
    bool RepeatSet = true;  // "Repeat": a reading equal to the last stored one is not stored again
    bool RecordSI = false;  // "Sampling Interval": readings wait for the countdown

    // rows were stored since the table was last saved, emptied or opened
    bool UnsavedRows = false;
    // readings turned away by the record limit since it was last reached afresh (New, or a new
    // limit): the first one is when the limit was reached
    int64_t NotRecorded = 0;
};

// An item of the record-limit menu.
struct RecordLimitItem {
    const char* name;     // the menu item's name
    const char* caption;  // its text
    int32_t limit;
};
inline constexpr std::array<RecordLimitItem, 6> kRecordLimitItems = {{
    {"N10001", "1000", 1000},
    {"N50001", "5000", 5000},
    {"N100001", "10000", 10000},
    {"N500001", "50000", 50000},
    {"N1000001", "100000", 100000},
    {"limitess", "limitless", 10000000},
}};
// The item checked at start.
inline constexpr int kDefaultRecordLimitItem = 2;

// The rules that decide which readings become rows of the record table: the record limit, the
// sampling interval and the suppression of repeated readings. Plain code over the state and the
// table it is given; the window only mirrors its controls into the state and shows messages.
class RecordStore {
public:
    RecordStore(RecordState& state, RecordTable& table);

    static void applyStartValues(RecordState& state);

    // The moment stored with a row: the local date, time of day and UTC offset. By default the
    // reading's own time (MeterState::ReadingUtcUs) in the system's time zone, the system's
    // clock for a reading without one; a clock set here decides for every reading.
    void setLocalClock(std::function<LocalStamp()> clock) {
        clock_ = std::move(clock);
        readingTimes_ = false;
    }
    // The moment a row of `reading` gets (or would get, when the rules skip it): what others
    // sending the same reading stamp it with.
    LocalStamp stampOf(const MeterState& reading);
    // A clock of the time of day alone (milliseconds since midnight): rows get no date.
    void setClock(std::function<int32_t()> clock);

    // Offers the current reading; true when it was stored as a new row.
    bool INDataToTable(const MeterState& reading);

    // One tick of the sampling timer.
    void TrecordTimer();

    // The interval edit changed: the countdown restarts at the new interval at once. Text that
    // is not a decimal integer leaves interval and countdown as they were and gives the message.
    Result<> RecordSITimeChange(std::string_view text);

    // New, after the user has been told: empties the table and restarts the numbering.
    void RecordNewClick();

    void setLimit(int32_t maxRecords) {
        state_.MaxRecords = maxRecords;
        state_.NotRecorded = 0;
    }

    // What to tell the user once the limit turns readings away.
    static std::string limitReachedText(int32_t maxRecords);

    bool hasUnsavedRows() const { return state_.UnsavedRows; }
    // The first `rowsOnFile` rows of the table are now on file (after a save or an open); -1:
    // all of them. Rows appended after those (readings that came in while a save was running)
    // stay unsaved, and stay in the journal. Tells the handler below.
    void markSaved(int64_t rowsOnFile = -1);
    // Called after each markSaved with the number of rows of the table that are on file.
    void setRowsSavedHandler(std::function<void(int64_t rowsOnFile)> handler) {
        rowsSaved_ = std::move(handler);
    }

    // The journal that keeps the unsaved rows on disk; nullptr: none. New and markSaved() empty it.
    void setJournal(RecordJournal* journal) { journal_ = journal; }
    // Appends the rows stored since the last call to the journal and flushes it.
    Result<> syncJournal();
    // Whether syncJournal() has rows to write.
    bool journalBehind() const { return journal_ && journal_->behind(table_); }
    // Rows of an earlier run, back from its journal: appended as unsaved rows, numbering on after
    // them. The rows are read once, in order, so a journal can hand them over as it reads them.
    void recoverRows(const RecordSource& rows);

    // Interval text to seconds: a decimal integer with an optional sign; nothing for any other
    // text, the empty one and a lone sign included (they keep the interval in force).
    static std::optional<int32_t> parseInterval(std::string_view text);
    static std::string intervalError(std::string_view text);

    // Stores `count` made-up readings as if they had arrived, for measuring with a full table.
    void fillForTest(int64_t count);

private:
    RecordState& state_;
    RecordTable& table_;
    std::function<LocalStamp()> clock_;
    bool readingTimes_ = true;
    LocalClock zone_;
    RecordJournal* journal_ = nullptr;
    std::function<void(int64_t)> rowsSaved_;
    std::string key_;
    RecordRow row_;
};
