#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "ReadingMessage.h"

// What the bench takes from the messages of a broker, apart from the network and the model: a
// sender is trusted with nothing. Each message names its meter by its topic,
// PREFIX/<client>/status or PREFIX/<client>/reading; the intake decides what it means.
//
// - Every client name MQTT allows becomes a channel name: characters an expression or a file
//   cannot take (control characters, '\', '[', ']', '=', a space at either end) are written as
//   \xHH (\uHHHH for C1 controls), a name beyond 64 bytes is cut and given a digest, an empty
//   one is "(empty)".
// - At most kMaxMeters meters; messages of further ones are counted.
// - A reading is refused (and counted by its fault) when its message is not one (ReadingMessage).
// - A reading whose (seq) was taken already from that meter is a duplicate: dropped and counted.
//   A reading older than the meter's last one is dropped and counted: the history stays in order.
// - A reading dated more than kFutureMs after its arrival or more than kPastMs before it (the time
//   a broker keeps a session's messages) is kept at its arrival time and counted: a wrong clock
//   neither stretches the history nor integrates across a jump.
// - A status is "online" or "offline"; only a change is passed on. An "offline" of a meter never
//   seen is not a meter (the retained status of one long gone). A status that changes more than
//   kFlapChanges times within a minute is still followed, and said once.
class BrokerIntake {
public:
    static constexpr std::size_t kMaxMeters = 100;
    static constexpr qint64 kFutureMs = 2 * 60 * 1000;
    static constexpr qint64 kPastMs = 60 * 60 * 1000;
    static constexpr std::size_t kMaxNameBytes = 64;
    static constexpr int kFlapChanges = 20;

    struct Outcome {
        enum Kind {
            Nothing,  // ignored: an unchanged status, a topic of another shape
            Status,   // the meter's status changed to `online`
            Reading,  // a reading to add, at `reading.utcUs`
            Refused,  // counted, see counts()
        };
        Kind kind = Nothing;
        std::string client;  // the name in the topic
        QString shown;       // the channel name for it
        bool isNew = false;  // the first message that makes the client a meter
        bool online = false;
        bool flapping = false;  // this change made the status one that flaps (said once a meter)
        MeterReading reading;
    };

    struct Counts {
        uint64_t readings = 0;                               // taken
        uint64_t duplicates = 0;                             // a (seq) taken already
        uint64_t older = 0;                                  // older than the meter's last reading
        uint64_t timesReplaced = 0;                          // far from the arrival: kept at the arrival time
        uint64_t beyondMeters = 0;                           // messages of meters beyond kMaxMeters
        uint64_t badStatus = 0;                              // a status other than online/offline
        uint64_t badTopic = 0;                               // not PREFIX/<client>/status|reading
        std::map<ReceivedReading::Fault, uint64_t> refused;  // readings refused, by fault
        uint64_t statusChanges = 0;

        uint64_t refusedTotal() const;
    };

    explicit BrokerIntake(std::string prefix) : prefix_(std::move(prefix)) {}

    // One message, arrived at `arrivalMs` (this computer's clock, ms since 1970 UTC).
    Outcome take(const std::string& topic, const QByteArray& payload, qint64 arrivalMs);

    const Counts& counts() const { return counts_; }
    std::size_t meters() const { return meters_.size(); }
    // What was refused or dropped, in one line ("12 duplicates, 3 older than the last, ..."),
    // empty when nothing was.
    std::string refusalSummary() const;

    // The channel name for a client name (see the class comment).
    static QString shownName(const std::string& client);

private:
    struct Meter {
        QString shown;
        bool known = false;  // a reading or an "online" made it a meter
        bool online = false;
        qint64 lastMs = INT64_MIN;     // the last reading's time as taken
        qint64 lastOwnMs = INT64_MIN;  // and as its message said
        std::set<uint64_t> seqs;       // the last few hundred taken
        qint64 flapsSinceMs = 0;       // the status changes counted from then
        int flaps = 0;
        bool flapSaid = false;
    };

    const std::string prefix_;
    std::map<std::string, Meter> meters_;
    Counts counts_;
};
