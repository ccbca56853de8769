#pragma once

#include <QString>
#include <QVector>
#include <memory>
#include <optional>
#include <vector>

#include "ChannelHistory.h"

class BenchModel;

// The values the aligned export writes, a column a channel, at moments that only grow: the last
// value of each channel at or before the moment. Where a channel's history keeps only buckets
// (older than about an hour), the readings come from the bench's recording when it has one (the
// long-form CSV of BenchRecorder, read once from its start as the moments go on, never whole);
// from the history's readings after that, and from its buckets' means without a recording.
class BenchAlignedValues {
public:
    BenchAlignedValues(const BenchModel& model, const QVector<int>& ids, const QString& recordingPath = {});
    ~BenchAlignedValues();

    void moveTo(int64_t timeMs);
    // channel i's value at the last moment; nothing before its first, NaN after a gap
    std::optional<double> value(int i) const;
    // rows of the recording taken in so far
    uint64_t recordedRows() const { return recordedRows_; }

private:
    struct Recording;
    struct Column {
        ChannelHistory::Cursor cursor;
        int64_t readingsFrom;   // from here on the history holds the readings themselves
        bool recorded = false;  // the recording has readings of it
        std::optional<double> fromRecording;
    };

    std::vector<Column> columns_;
    std::unique_ptr<Recording> recording_;
    uint64_t recordedRows_ = 0;
    int64_t at_ = 0;
};
