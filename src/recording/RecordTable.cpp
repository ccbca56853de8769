#include "RecordTable.h"

Result<> RecordTable::open(const std::string& name) {
    CompactRows fresh;
    if (reader_) {
        Result<> read = reader_(name, [&fresh](const RecordRow& r) { fresh.append(r); });
        if (!read) return read;
    }
    replaceRows(name, fresh);
    return {};
}

void RecordTable::openEmpty(const std::string& name) {
    CompactRows fresh;
    replaceRows(name, fresh);
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

Result<> RecordTable::save(const std::string& path) const {
    if (!writer_) return Failure{"Saving record tables is not available in this build."};
    return writer_(rows_, path);
}
