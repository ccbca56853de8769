#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "RecordRow.h"

// A copy of a table of rows: what a source that cannot share its storage hands out as its
// snapshot, and a plain table to fill row by row. Rows are held compactly: the texts of a run
// repeat, so each distinct text is kept once and a row holds small indices into that pool.
class RecordSnapshot : public RecordSource {
public:
    RecordSnapshot() = default;

    // Copies every row of the source as it stands now. The optional callback hears the rows copied
    // so far now and then and may return false to stop; the snapshot then holds the rows copied up
    // to that point and take() returns false.
    using Progress = std::function<bool(int64_t done, int64_t total)>;
    bool take(const RecordSource& source, const Progress& progress = {});

    void append(const RecordRow& row);
    void clear();

    int64_t rowCount() const override { return static_cast<int64_t>(rows_.size()); }
    RecordRow row(int64_t index) const override;

private:
    struct Packed {
        int32_t no;
        int32_t timeMs;
        uint32_t dcAc;
        uint32_t value;
        uint32_t unit;
        uint32_t autoText;
        double nval;
    };

    uint32_t intern(const std::string& text);

    std::vector<Packed> rows_;
    std::vector<std::string> texts_;
    std::unordered_map<std::string, uint32_t> textIndex_;
};

// A table without rows: what the window reports on until it has a table of its own.
class EmptyRecordSource : public RecordSource {
public:
    int64_t rowCount() const override { return 0; }
    RecordRow row(int64_t) const override { return {}; }
};
