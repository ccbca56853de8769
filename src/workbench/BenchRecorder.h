#pragma once

#include <QObject>
#include <QString>
#include <memory>

class BenchModel;

// Writes every reading of every channel of the model to a CSV file in long form, one row per
// reading: Date and time, Channel, Number (base unit), Unit, Value (as displayed), AC/DC,
// AUTO/MANU. Rows reach the disk at least every half second, so a killed process loses at most
// that much, and only whole rows are ever on file. A file recorded into before is continued, not
// replaced; one another program records into is refused. While the disk takes nothing, rows are
// held (up to a few megabytes, then counted as lost) and written once it takes them again.
class BenchRecorder : public QObject {
    Q_OBJECT
public:
    BenchRecorder(BenchModel& model, const QString& path, QObject* parent = nullptr);
    ~BenchRecorder() override;  // writes what is left

    // Creates the file with its header, or goes on after the rows of an earlier recording in it
    // (a row cut short by a killed run is cut off). False with `error` when the file cannot be
    // written, holds something else, or another program is recording into it.
    bool start(QString* error = nullptr);
    // Writes what is held and closes the file; false with `error` when rows were lost or the
    // file could not be written in the end.
    bool finish(QString* error = nullptr);
    const QString& path() const;
    uint64_t rows() const;      // rows of this run on file
    uint64_t lostRows() const;  // rows the disk never took
    bool appended() const;      // the file held an earlier recording, which was kept

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Writes one row per `stepMs` from the first to the last reading of the model's channels, with
// the last value of each channel at that moment in a column of its own (empty before a channel's
// first reading and where its last value was a gap). Readings the model's histories keep only in
// buckets are read from `recordingPath`, the bench's recording, when there is one. False with
// `error` when it could not be written.
bool writeAlignedCsv(const BenchModel& model, const QString& path, qint64 stepMs = 1000,
                     QString* error = nullptr, const QString& recordingPath = {});
