#pragma once

#include <functional>
#include <string>

#include "CompactRows.h"
#include "RecordRow.h"
#include "Result.h"

// The table the store appends to and the grid, the exports and the report read: one named table
// at a time, its rows held in memory. Opening reads the named file's rows when a reader is
// plugged in; appended rows reach a file only through save().
class RecordTable : public RecordSource {
public:
    // Reads the rows of a table file, handing each to `add`.
    using Reader =
        std::function<Result<>(const std::string& path, const std::function<void(const RecordRow&)>& add)>;
    // Writes `rows` to a file.
    using Writer = std::function<Result<>(const RecordSource& rows, const std::string& path)>;

    void setReader(Reader reader) { reader_ = std::move(reader); }
    void setWriter(Writer writer) { writer_ = std::move(writer); }

    // Opens `name` in place of the current table. Without a reader the table just takes the name
    // and starts empty. The rows are read into a fresh table first: on failure the table open
    // before stays open with its rows.
    Result<> open(const std::string& name);
    // Starts an empty table named `name` without reading anything, whatever reader is plugged in.
    void openEmpty(const std::string& name);
    // Takes `rows` (read elsewhere) as the rows of the open table `name`; `rows` receives the
    // rows held before.
    void replaceRows(const std::string& name, CompactRows& rows);
    void close();
    bool isOpen() const { return open_; }
    const std::string& name() const { return name_; }

    int64_t rowCount() const override { return rows_.rowCount(); }
    RecordRow row(int64_t index) const override { return rows_.row(index); }
    std::shared_ptr<const RecordSource> snapshot() const override { return rows_.snapshot(); }
    void append(const RecordRow& row) { rows_.append(row); }
    void empty() { rows_.clear(); }

    // Writes all rows to `path` through the plugged-in writer.
    Result<> save(const std::string& path) const;

    std::size_t bytesUsed() const { return rows_.bytesUsed(); }

private:
    CompactRows rows_;
    std::string name_;
    bool open_ = false;
    Reader reader_;
    Writer writer_;
};
