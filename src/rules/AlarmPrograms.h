#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "RulesEngine.h"

class QProcess;

// The program run on entering and leaving an alarm, started without a shell, with the event as
// its arguments (name, state, value, unit, channel, time) and in its environment (DMM_ALARM,
// DMM_STATE "entered" or "left", DMM_VALUE, DMM_UNIT, DMM_CHANNEL, DMM_TIME). Nothing waits for
// it: its output (standard output and error together) and exit status are logged when it ends.
// One runs at a time per alarm: an event that comes meanwhile waits for it, and only the latest
// event waits (those it replaced are logged as skipped).
//
// Lives on a thread with an event loop; run() and finish() are called on that thread.
class AlarmPrograms : public QObject {
public:
    using Log = std::function<void(const std::string& line)>;
    AlarmPrograms(const QString& program, Log log, QObject* parent = nullptr);
    ~AlarmPrograms() override;

    void run(const AlarmEvent& event);
    // Programs running now.
    int running() const;
    // Programs started in all.
    int started() const { return started_; }
    // Gives the programs still running `grace` to end, then ends them (said in the log).
    void finish(std::chrono::milliseconds grace);

    // The event's texts as the program gets them, in the order of its arguments.
    static std::vector<std::pair<QString, QString>> environmentOf(const AlarmEvent& event);

private:
    struct Slot {
        std::unique_ptr<QProcess> process;
        std::optional<AlarmEvent> waiting;
        QByteArray output;
    };
    void start(Slot& slot, const AlarmEvent& event);
    void ended(const QString& alarm);

    QString program_;
    Log log_;
    std::map<QString, Slot> slots_;
    int started_ = 0;
};
