#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>

class BenchModel;

// A local meter: NAME=MODEL@PATH on the command line, or chosen in the window.
struct LocalMeterChoice {
    QString name;
    std::string model;     // as --model takes it ("KR31G")
    bool variant = false;  // the digit-frame variant switch ("KR31G+v")
    std::string path;      // the serial device ("/dev/ttyUSB0")
};

// Reads "NAME=MODEL@PATH" (MODEL may end in "+v"); an empty `error` when it is understood.
LocalMeterChoice parseMeterChoice(const std::string& text, std::string& error);

// Feeds one channel of the model from a serial device on this thread's event loop, through the
// same meter line as the window and the headless run: the line times the readings, retries a
// lost device and words the hint the tile shows when the bytes fit another model.
class LocalMeterSource : public QObject {
    Q_OBJECT
public:
    // Adds the channel to the model at once (offline until the device is open).
    LocalMeterSource(const LocalMeterChoice& choice, BenchModel& model, QObject* parent = nullptr);
    ~LocalMeterSource() override;

    int channelId() const;  // -1 when the model refused the name
    // Opens the device; false with `error` when it cannot be opened or the model is unknown.
    bool start(QString* error = nullptr);
    // After a start that could not open the device: tries again as the line retries a lost one,
    // the channel offline until then (a meter kept from an earlier run whose adapter is not plugged in yet).
    void keepTrying();
    void stop();
    const LocalMeterChoice& choice() const;
    uint64_t readings() const;
    uint64_t droppedFrames() const;

signals:
    // The device went away (an adapter pulled); the channel is offline until the device can be
    // opened again, which the line tries about every second.
    void lost(const QString& reason);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
