#pragma once

#include <QString>
#include <cstdint>
#include <functional>

// Progress of a long file operation: called now and then with the rows done and the rows in
// all. Returning false cancels the operation; a cancelled save leaves the target as it was.
using FileProgress = std::function<bool(int64_t done, int64_t total)>;

// Outcome of reading or writing a data file. `error` is a sentence for the user when the
// status is Failed.
struct FileResult {
    enum Status { Ok, Failed, Cancelled };
    Status status = Ok;
    QString error;
    int64_t rows = 0;  // rows read or written

    bool ok() const { return status == Ok; }
    static FileResult failed(const QString& text) {
        FileResult r;
        r.status = Failed;
        r.error = text;
        return r;
    }
    static FileResult cancelled() {
        FileResult r;
        r.status = Cancelled;
        return r;
    }
};

// Calls the progress callback every `stride` rows so that the cost stays out of the row loop.
class ProgressTicker {
public:
    ProgressTicker(const FileProgress& progress, int64_t total, int64_t stride = 1 << 15)
        : progress_(progress), total_(total), stride_(stride), next_(stride) {}
    // False when the user cancelled.
    bool tick(int64_t done) {
        if (done < next_ || !progress_) return true;
        next_ = done + stride_;
        return progress_(done, total_);
    }
    bool start() { return !progress_ || progress_(0, total_); }
    bool finish() { return !progress_ || progress_(total_, total_); }

private:
    const FileProgress& progress_;
    int64_t total_;
    int64_t stride_;
    int64_t next_;
};
