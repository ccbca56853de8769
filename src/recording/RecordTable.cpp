#include "RecordTable.h"

bool RecordTable::open(const std::string& name, std::string* error) {
    close();
    if (reader_) {
        const bool ok = reader_(name, [this](const RecordRow& r) { rows_.append(r); }, error);
        if (!ok) {
            rows_.clear();
            return false;
        }
    }
    name_ = name;
    open_ = true;
    return true;
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
