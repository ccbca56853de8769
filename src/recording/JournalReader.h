#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "JournalFormat.h"
#include "RecordRow.h"
#include "Result.h"

// Reads a journal file entry by entry, holding one entry at a time. Where an entry does not check
// out (a write cut short, a damaged sector, a flipped bit) it searches on for the next entry whose
// length and CRC check out and whose rows decode, and goes on from there.
class JournalReader {
public:
    JournalReader() = default;
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // Opens the journal at `path` at its first entry. On failure nothing is open, and missing()
    // tells a file that is not there from one that cannot be read.
    Result<> open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    bool missing() const { return missing_; }

    // The rows of the next good entry; false at the end of the file.
    bool next(std::vector<RecordRow>& rows);
    // Back to the first entry (the counts below start again).
    void rewind();

    // Stretches of damage that good entries follow: each is at least one entry lost.
    int64_t skippedStretches() const { return skipped_; }
    // Where the last good entry ends: new entries may be written from there.
    uint64_t goodEnd() const { return goodEnd_; }
    // Bytes after the last good entry (a torn or damaged end), known once next() returned false.
    uint64_t tornBytes() const { return atEnd_ && size_ > goodEnd_ ? size_ - goodEnd_ : 0; }

private:
    bool entryAt(uint64_t at, std::vector<RecordRow>& rows, uint64_t* length);
    const char* bytesAt(uint64_t at, std::size_t n);

    int fd_ = -1;
    bool missing_ = false;
    uint64_t size_ = 0;
    uint64_t at_ = 0;
    uint64_t goodEnd_ = 0;
    int64_t skipped_ = 0;
    bool atEnd_ = false;
    // a window of the file
    std::vector<char> buffer_;
    uint64_t bufferAt_ = 0;
};

// The rows of a journal file as a table, read as they are asked for: a reader walking the rows
// in order (an export, a copy into the record table) holds one entry at a time, not the run.
class JournalRows : public RecordSource {
public:
    // `rows`: how many rows the journal holds, as a first read counted them.
    JournalRows(const std::string& path, int64_t rows);
    ~JournalRows() override;

    int64_t rowCount() const override { return count_; }
    RecordRow row(int64_t index) const override;

private:
    int64_t count_;
    mutable JournalReader reader_;
    mutable std::vector<RecordRow> entry_;
    mutable int64_t entryFirst_ = 0;
};
