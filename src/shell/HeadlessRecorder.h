#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "FileOperation.h"
#include "RecordStore.h"
#include "RecordTable.h"

struct AppOptions;
struct MeterState;

// The record store of a run without a window: readings are offered as the window offers them,
// the sampling timer runs on the run's clock, and at the end the table is written with the code
// of Save. A capture runs on the line's clock (every byte takes the time the line needs to send
// it), a device on the real one.
class HeadlessRecorder {
public:
    explicit HeadlessRecorder(const AppOptions& options);

    // The clock of a capture: bytes at `baud` baud, 10 bit times each, the first starting at
    // `startOfDayMs` (local time of day in milliseconds).
    void useLineClock(int baud, int32_t startOfDayMs);
    // The line clock moves to the end of the next byte; the sampling timer ticks once for every
    // whole second of line time passed.
    void byteArrives();

    // The real clock: the sampling timer ticks once for every whole second since the first call.
    void realTimePassed(std::chrono::steady_clock::time_point now);

    void offer(const MeterState& reading);

    // Writes the rows stored so far to the file named by --record.
    FileResult write();

    const std::string& path() const { return path_; }
    int64_t rows() const { return table_.rowCount(); }
    const RecordTable& table() const { return table_; }

    // A reason the file cannot be written (a folder, a folder that does not exist, the file being
    // decoded); empty when it looks writable. Checked before the run so that no readings are
    // gathered for nothing.
    static std::string checkTarget(const std::string& path, const std::string& decodePath);

private:
    std::string path_;
    RecordState state_;
    RecordTable table_;
    RecordStore store_{state_, table_};

    // line clock
    int baud_ = 0;
    int32_t startMs_ = 0;
    uint64_t bytes_ = 0;
    int64_t ticks_ = 0;  // sampling ticks given so far

    // real clock
    bool realStarted_ = false;
    std::chrono::steady_clock::time_point realStart_;
};
