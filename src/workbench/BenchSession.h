#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "BenchModel.h"
#include "BenchSettings.h"
#include "BrokerMeterSource.h"
#include "MeterSource.h"

class BenchRecorder;

// A bench as the command line, the settings or the window build it: the sources that feed the
// model, its math channels (one over meters a broker has not shown yet waits for them), and the
// recording. The window and the headless run both drive one.
class BenchSession : public QObject {
    Q_OBJECT
public:
    explicit BenchSession(BenchModel& model, QObject* parent = nullptr);
    ~BenchSession() override;

    BenchModel& model() { return model_; }

    // A local meter, its device opened; nullptr with `error` (the channel is not kept then). With
    // `keepWhenClosed` a device that cannot be opened yet keeps its channel, offline, and is tried
    // again every two seconds; `error` says why it is closed.
    LocalMeterSource* addLocalMeter(const LocalMeterChoice& choice, QString* error = nullptr,
                                    bool keepWhenClosed = false);
    // Meters under a broker's prefix, found as they announce themselves.
    BrokerMeterSource* addBroker(const SubscribeRequest& request);

    // Adds a math channel at once when its expression is sound and names known channels. With a
    // broker subscribed, names not known yet make it wait until meters of those names are found
    // (MathAdded::id stays -1 with an empty error). A fault in the expression refuses it, and so
    // does one that reads itself, or waiting channels that would read each other in a loop.
    BenchModel::MathAdded addMath(const QString& name, const QString& expression);
    // Math channels waiting for their inputs: "NAME=EXPRESSION".
    QStringList waitingMaths() const;

    // Removes the channel and its source (a local meter's device is closed).
    void removeChannel(int id);

    // The local meters and brokers, in the order added.
    const std::vector<std::unique_ptr<LocalMeterSource>>& localMeters() const { return local_; }
    const std::vector<std::unique_ptr<BrokerMeterSource>>& brokers() const { return brokers_; }

    // Every reading of every channel into a long CSV file from now on.
    bool startRecording(const QString& path, QString* error = nullptr);
    BenchRecorder* recorder() const { return recorder_.get(); }
    // Writes what is held and closes the file.
    bool finishRecording(QString* error = nullptr);

    // The bench of an earlier run: its meters (kept while their devices are away), brokers and
    // math channels. What cannot be restored is one line each in `errors`.
    void restore(const BenchSettings& settings, const std::string& password, QStringList* errors = nullptr);
    // The same in two steps, so that meters from elsewhere (the command line) come in between:
    // first the meters and brokers, then the math channels, which wait for inputs not there.
    void restoreSources(const BenchSettings& settings, const std::string& password,
                        QStringList* errors = nullptr);
    void restoreMaths(const BenchSettings& settings, QStringList* errors = nullptr);

    // What to keep for the next run: the local meters, math channels (waiting ones too) and
    // brokers, in order.
    BenchSettings settings() const;

private:
    BenchModel::MathAdded addMath(const QString& name, const QString& expression, bool mayWait);
    void retryWaiting();
    int waitingIndex(const QString& name) const;
    QStringList waitingLoop(const QString& name, const QStringList& reads) const;
    QStringList waitingLoopFrom(const QString& at, const QString& name, QStringList path) const;

    struct Waiting {
        QString name;
        QString expression;
    };
    BenchModel& model_;
    std::vector<std::unique_ptr<LocalMeterSource>> local_;
    std::vector<std::unique_ptr<BrokerMeterSource>> brokers_;
    std::vector<SubscribeRequest> brokerRequests_;
    std::vector<Waiting> waiting_;
    std::unique_ptr<BenchRecorder> recorder_;
};
