#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "FileOperation.h"
#include "MeterReading.h"
#include "PlainFile.h"
#include "RecordJournal.h"
#include "RecordStore.h"
#include "RecordTable.h"
#include "RowNotes.h"

struct AppOptions;
struct MeterState;

// The record store of a run without a window: readings are offered as the window offers them,
// the sampling timer runs on the run's clock, and at the end the table is written with the code
// of Save. A capture runs on the line's clock (every byte takes the time the line needs to send
// it), a device on the real one.
//
// Until FILE is written the rows are kept in a journal beside it (FILE + ".journal"), written at
// least twice a second of real time, so that a killed run leaves them for --recover. The journal
// is removed once FILE is written, or when the run recorded nothing.
class HeadlessRecorder {
public:
    explicit HeadlessRecorder(const AppOptions& options);
    ~HeadlessRecorder();
    HeadlessRecorder(const HeadlessRecorder&) = delete;
    HeadlessRecorder& operator=(const HeadlessRecorder&) = delete;

    // Beside the file the name resolves to, so that a run under another name of the same file
    // (a link) meets the same journal and is refused: FILE.journal, or, when that name would be
    // longer than the directory allows, the first bytes of FILE's name, "~", eight hexadecimal
    // digits of a hash of the whole name and ".journal", as long as the directory allows.
    static std::string journalPathFor(const std::string& path);
    // Claims the journal. Refused (with the reason) when another run holds it, when it cannot be
    // created, or when it holds rows of an earlier run that were never written: those are not
    // overwritten. A journal holding only damage is kept aside (said on `warnings`) and a fresh one
    // taken. Failures to write it later are said once on `warnings`.
    bool startJournal(std::ostream& warnings, std::string* error);
    const std::string& journalPath() const { return journalPath_; }

    // The clock of a capture: bytes at `baud` baud, 10 bit times each, the first starting at the
    // moment `startUtcMs` (milliseconds since 1970 UTC); rows take that moment's local date and time.
    void useLineClock(int baud, int64_t startUtcMs);
    // Rows are dated up to the last moment of 9999 (the dates written have four-digit years): why
    // a capture at `path` timed from `startUtcMs` would run past it, empty when it would not. A
    // stream of unknown length counts from its start alone.
    static std::string checkLineClockEnd(const std::string& path, int baud, int64_t startUtcMs);
    // The line clock moves to the end of the next byte; the sampling timer ticks once for every
    // whole second of line time passed.
    void byteArrives();

    // The real clock: the sampling timer ticks once for every whole second since the first call,
    // and the journal is brought up to date when it is due.
    void realTimePassed(std::chrono::steady_clock::time_point now);
    // Real time passed on a run timed by the line (a live pipe): the journal is brought up to
    // date when it is due, so that a slow line is journaled as often as a device.
    void timePassed(std::chrono::steady_clock::time_point now) { syncJournalIfDue(now); }
    // How many times the journal was brought up to date.
    int64_t journalSyncs() const { return journalSyncs_; }

    void offer(const MeterState& reading);
    // A reading the rules let through, dated by its own time (pre-trigger readings come after
    // later ones were read), with the note its row carries; a note of a reading the store turns
    // away goes to the next row stored.
    void offerAt(const MeterReading& reading, const std::string& note);
    // The time of the reading just decoded, as its row has it (or would have it).
    LocalStamp readingTime(const MeterState& reading) { return store_.stampOf(reading); }

    // Writes the rows stored so far to the file named by --record; the journal goes when that
    // worked and otherwise gets every row, so that nothing is lost.
    FileResult write();

    const std::string& path() const { return path_; }
    int64_t rows() const { return table_.rowCount(); }
    // Rows the journal holds on disk now.
    int64_t journalRows() const { return journal_ ? journal_->rowsKept() : 0; }
    // Readings the record limit turned away.
    int64_t notRecorded() const { return state_.NotRecorded; }
    // Readings of a stream of unknown length that came after the last moment of 9999, not stored.
    int64_t pastLastDate() const { return pastLastDate_; }
    int32_t limit() const { return state_.MaxRecords; }
    const RecordTable& table() const { return table_; }

    // A reason the file cannot be written (a folder, a folder that does not exist, the file being
    // decoded); empty when it looks writable. Checked before the run so that no readings are
    // gathered for nothing.
    static std::string checkTarget(const std::string& path, const std::string& decodePath);

private:
    void syncJournalIfDue(std::chrono::steady_clock::time_point now);
    void syncJournal();

    std::string path_;
    RecordState state_;
    RowNotes notes_;
    std::string pendingNote_;
    std::optional<int64_t> heldMs_;  // the time of the reading being offered by offerAt
    RecordTable table_;
    RecordStore store_{state_, table_};

    // line clock
    int baud_ = 0;
    int64_t startMs_ = 0;
    LocalClock zone_;
    uint64_t bytes_ = 0;
    int64_t ticks_ = 0;  // sampling ticks given so far
    int64_t lastMs_ = INT64_MAX;
    int64_t pastLastDate_ = 0;

    // real clock
    bool realStarted_ = false;
    std::chrono::steady_clock::time_point realStart_;

    std::string journalPath_;
    std::unique_ptr<RecordJournal> journal_;
    std::ostream* warnings_ = nullptr;
    bool journalFailed_ = false;
    int64_t journalSyncs_ = 0;
    std::chrono::steady_clock::time_point lastSync_;
};
