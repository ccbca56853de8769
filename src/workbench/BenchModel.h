#pragma once

#include <QObject>
#include <QString>
#include <QVector>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "BenchReading.h"

class QTimer;

// The channels of the bench and what they read: the latest reading, online/offline, stale,
// statistics since a reset, a REL reference, and the history. Math channels are computed here
// whenever one of their inputs gets a reading. Sources (local meters, the broker) feed readings
// in; the window, the recorder and the headless run listen to the signals. Lives on one thread.
class BenchModel : public QObject {
    Q_OBJECT
public:
    explicit BenchModel(QObject* parent = nullptr);
    ~BenchModel() override;

    // --- channels ---
    // A meter channel; -1 when the name is empty, taken, or not usable in an expression.
    int addMeter(const QString& name, const QString& source = {});

    struct MathAdded {
        int id = -1;        // -1: refused
        QString error;      // why, e.g. "')' expected"
        int position = -1;  // where in the expression the fault is (0-based character index)
    };
    // A math channel over the names of existing channels.
    MathAdded addMath(const QString& name, const QString& expression);
    // Removes a channel and every math channel that reads it (each announced by channelRemoved).
    void removeChannel(int id);

    // Ids in the order the channels were added.
    QVector<int> channelIds() const;
    // -1 when there is no such channel.
    int channelId(const QString& name) const;
    // nullptr for an unknown id.
    const ChannelInfo* channel(int id) const;
    // Whether `name` may name a new channel: not empty, not taken, a word an expression can use.
    QString checkNewName(const QString& name) const;  // empty: fine; otherwise why not

    // --- input (sources call these) ---
    // A reading of a meter channel. `receivedMs` is when it arrived here on the model's steady
    // clock (nowMs()); -1 takes the reading's own time.
    void addReading(int id, const BenchReading& reading, qint64 receivedMs = -1);
    void setOnline(int id, bool online);

    // --- state ---
    std::optional<BenchReading> latest(int id) const;
    bool isOnline(int id) const;
    bool isStale(int id) const;
    // Readings the channel got since it was added (resets leave it alone).
    uint64_t readingCount(int id) const;
    // How long after its last reading the channel counts as stale: three times its pace (the
    // median of its latest intervals, as the meter line judges the reading on show), at least 1.5 s.
    qint64 staleAfterMs(int id) const;

    ChannelStats statistics(int id) const;
    // Where the statistics start in the channel's history: the count of readings it had got
    // before (ChannelHistory::count(), gaps included).
    uint64_t statisticsFrom(int id) const;
    // The unit before the last change of unit, when the statistics started again then (and not
    // since by a reset); empty otherwise.
    QString statisticsUnitBefore(int id) const;
    void resetStatistics(int id);  // a math channel's integrals start again from zero too
    void resetAllStatistics();     // every channel's, integrals included

    // REL: the latest value becomes the reference; relValue is the latest minus the reference.
    void captureRel(int id);
    void clearRel(int id);
    std::optional<double> relReference(int id) const;
    std::optional<double> relValue(int id) const;

    // The channel's history in levels (ChannelHistory): bounded however long the run.
    const ChannelHistory& history(int id) const;
    // Whether readings are kept in the history (the chart and the aligned export read it); a run
    // without a window keeps none, so a long run at a high rate does not fill the memory.
    void setHistoryKept(bool kept);

    // Marks channels stale whose last reading is too old at `nowMs` (the model's steady clock, as
    // nowMs() tells it). A timer of the model calls it four times a second with the current time.
    // A math channel takes an input only while it is not stale by the same rule.
    void checkStale(qint64 nowMs);
    // The model's steady clock in milliseconds; the time sources give as a reading's arrival.
    qint64 nowMs() const;
    void setClock(std::function<std::chrono::steady_clock::time_point()> clock);

    // A line of the channel's own state beside its readings (a local meter's line says which model
    // its bytes fit); empty when there is nothing to say.
    void setNote(int id, const QString& note);
    QString note(int id) const;

signals:
    void channelAdded(int id);
    void channelRemoved(int id);
    void channelChanged(int id);  // its unit changed
    void readingAdded(int id, const BenchReading& reading);
    void onlineChanged(int id, bool online);
    void staleChanged(int id, bool stale);
    void statisticsReset(int id);
    void relChanged(int id);
    void noteChanged(int id);

private:
    struct Channel;
    struct Impl;
    std::unique_ptr<Impl> d_;
};
