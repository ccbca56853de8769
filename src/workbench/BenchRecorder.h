#pragma once

#include <QObject>
#include <QString>
#include <memory>

class BenchModel;

// Writes every reading of every channel of the model to a CSV file in long form, one row per
// reading: Date and time, Channel, Number (base unit), Unit, Value (as displayed), AC/DC,
// AUTO/MANU. Rows reach the disk at least every half second, so a killed process loses at most
// that much.
class BenchRecorder : public QObject {
    Q_OBJECT
public:
    BenchRecorder(BenchModel& model, const QString& path, QObject* parent = nullptr);
    ~BenchRecorder() override;  // writes what is left

    // Creates the file with its header (an existing file is replaced); false with `error`.
    bool start(QString* error = nullptr);
    // Writes what is held and closes the file; false with `error` when it could not be written.
    bool finish(QString* error = nullptr);
    const QString& path() const;
    uint64_t rows() const;

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
