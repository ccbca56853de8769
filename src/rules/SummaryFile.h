#pragma once

#include <cstdio>
#include <string>

#include "IntervalSummary.h"

// A summary file written as its rows come: the header at once, each row flushed, so a killed
// run keeps the intervals that ended. The first failure to write is kept as the reason.
class SummaryFile {
public:
    ~SummaryFile();
    bool open(const std::string& path, std::string* error);
    // False the first time a row cannot be written (error() says why); later rows are dropped.
    bool add(const SummaryRow& row);
    // False when the file could not be completed.
    bool close();
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    bool fail();
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
};
