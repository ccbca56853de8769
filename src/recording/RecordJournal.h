#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RecordRow.h"
#include "Result.h"

// A file beside the record table that keeps the rows not yet saved, so that a crash, a kill or a
// power cut does not lose the run. Rows are appended in entries, each a batch of the rows new since
// the last one (JournalReader.h has the format). An entry cut short or damaged costs that entry:
// reading goes on at the next entry that checks out.
//
// The journal follows a table from a row index on: rows before that index are on file elsewhere
// (saved, or read from the table file), rows from it on are the unsaved ones.
class RecordJournal {
public:
    RecordJournal() = default;
    ~RecordJournal();
    RecordJournal(const RecordJournal&) = delete;
    RecordJournal& operator=(const RecordJournal&) = delete;

    // The journal kept beside a table: the table's name without its extension, plus ".journal".
    static std::string pathFor(const std::string& tableName);

    // What a journal file holds.
    struct Contents {
        bool exists = false;
        std::vector<RecordRow> rows;  // with `keepRows` only
        int64_t rowCount = 0;
        uint64_t goodBytes = 0;  // where the last entry that checks out ends
        int64_t skipped = 0;     // stretches of damage between good entries, each one entry or more
        bool torn = false;       // something after the last good entry was cut short or damaged
        uint64_t fileBytes = 0;
        std::string error;  // the file exists but could not be read
    };
    // Reads the whole journal; without `keepRows` only counts what it holds, in the memory of one
    // entry (JournalRows then reads the rows as they are asked for).
    static Contents read(const std::string& path, bool keepRows = true);

    // Takes the journal at `path` for this program: creates it when missing and locks it, so that
    // a second program on the same table neither writes into it nor offers its rows. Gives what a
    // journal left there holds, or the reason it cannot be used.
    Result<Contents> claim(const std::string& path);
    bool isClaimed() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Keeps the first `goodBytes` of the claimed file (what read() found good; 0: nothing) and
    // follows the table from row `first` on, the rows before `written` being in the file already.
    Result<> resume(uint64_t goodBytes, int64_t first, int64_t written);

    // The rows before `first` are on file now (saved, or the table was emptied or opened anew):
    // the journal is emptied and follows the table from `first` on.
    void restart(int64_t first);

    // Appends the rows of `rows` not yet in the journal and flushes them to the disk. A table
    // with fewer rows than were written has been replaced: the journal restarts at its end.
    Result<> sync(const RecordSource& rows);
    // Whether sync() has something to do: `rows` differ in number from what the journal follows.
    bool behind(const RecordSource& rows) const { return fd_ >= 0 && rows.rowCount() != written_; }

    // Rows of the table the file holds now (from `first` on).
    int64_t rowsKept() const { return fd_ >= 0 ? written_ - first_ : 0; }

    // A normal end: the rows were saved or the user let them go. The file is removed.
    void remove();

    // The claimed file holds damage and must not be written over: it is kept under a name of its
    // own beside it ("<path>.damaged", numbered when that is taken) and a fresh, empty journal is
    // claimed in its place. Gives the name it was kept under.
    Result<std::string> setAside();

    // One entry holding `rows` (at least one), as sync() writes it.
    static std::string encodeEntry(const std::vector<RecordRow>& rows);

private:
    bool truncateTo(uint64_t length);

    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
    int64_t first_ = 0;
    int64_t written_ = 0;
};
