#include "SummaryFile.h"

#include <cerrno>
#include <cstring>

SummaryFile::~SummaryFile() {
    if (file_) std::fclose(file_);
}

bool SummaryFile::fail() {
    if (error_.empty()) error_ = "cannot write the summary '" + path_ + "': " + std::strerror(errno);
    return false;
}

bool SummaryFile::open(const std::string& path, std::string* error) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    const std::string header = IntervalSummary::csvHeader();
    if (!file_ || std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
        std::fflush(file_) != 0) {
        fail();
        if (error) *error = error_;
        return false;
    }
    return true;
}

bool SummaryFile::add(const SummaryRow& row) {
    if (!file_ || !error_.empty()) return false;
    const std::string line = IntervalSummary::csvLine(row);
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0)
        return fail();
    return true;
}

bool SummaryFile::close() {
    if (!file_) return error_.empty();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return (closed || fail()) && error_.empty();
}
