#include "RecordTable.h"

bool RecordTable::open(const std::string& name, std::string* error) {
    CompactRows fresh;
    if (reader_ && !reader_(name, [&fresh](const RecordRow& r) { fresh.append(r); }, error)) return false;
    replaceRows(name, fresh);
    return true;
}

void RecordTable::replaceRows(const std::string& name, CompactRows& rows) {
    rows_.swap(rows);
    name_ = name;
    open_ = true;
}

void RecordTable::close() {
    rows_.clear();
    name_.clear();
    open_ = false;
}

bool RecordTable::save(const std::string& path, std::string* error) const {
    if (!writer_) {
        if (error) *error = "Saving record tables is not available in this build.";
        return false;
    }
    return writer_(rows_, path, error);
}
