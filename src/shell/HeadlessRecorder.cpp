#include "HeadlessRecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include "AppOptions.h"
#include "DataFiles.h"
#include "MeterState.h"
#include "TableLock.h"

namespace {
constexpr int64_t kDayMs = 86400000;
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
}  // namespace

HeadlessRecorder::HeadlessRecorder(const AppOptions& options) : path_(options.recordPath.value_or(std::string())) {
    RecordStore::applyStartValues(state_);
    state_.RepeatSet = options.recordRepeat;
    state_.RecordSI = options.recordInterval.has_value();
    if (options.recordInterval) state_.SampleInterval = *options.recordInterval;
    state_.MaxRecords = options.recordLimit;
    table_.open("record");
}

void HeadlessRecorder::useLineClock(int baud, int32_t startOfDayMs) {
    baud_ = baud;
    startMs_ = startOfDayMs;
    bytes_ = 0;
    ticks_ = 0;
    store_.setClock([this] {
        const int64_t lineMs = static_cast<int64_t>(bytes_) * kBitsPerByte * 1000 / baud_;
        return static_cast<int32_t>((startMs_ + lineMs) % kDayMs);
    });
}

void HeadlessRecorder::byteArrives() {
    ++bytes_;
    const int64_t seconds = static_cast<int64_t>(bytes_) * kBitsPerByte / baud_;
    for (; ticks_ < seconds; ++ticks_) store_.TrecordTimer();
}

void HeadlessRecorder::realTimePassed(std::chrono::steady_clock::time_point now) {
    if (!realStarted_) {
        realStarted_ = true;
        realStart_ = now;
        ticks_ = 0;
        return;
    }
    const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now - realStart_).count();
    for (; ticks_ < seconds; ++ticks_) store_.TrecordTimer();
}

void HeadlessRecorder::offer(const MeterState& reading) { store_.INDataToTable(reading); }

FileResult HeadlessRecorder::write() {
    const FileResult r = DataFiles::save(QString::fromStdString(path_), table_);
    if (r.ok()) store_.markSaved();
    return r;
}

std::string HeadlessRecorder::checkTarget(const std::string& path, const std::string& decodePath) {
    const QFileInfo target(QString::fromStdString(path));
    if (target.isDir()) return "cannot record into '" + path + "': it is a directory";
    if (!target.absoluteDir().exists()) return "cannot record into '" + path + "': its folder does not exist";
    if (target.exists() && decodePath != "-" &&
        target.canonicalFilePath() == QFileInfo(QString::fromStdString(decodePath)).canonicalFilePath()) {
        return "cannot record into '" + path + "': it is the file being decoded";
    }
    if (TableLock::isHeldElsewhere(target.filePath()))
        return "cannot record into '" + path + "': the table is in use by another program";
    return {};
}
