#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <string>

#include "LocalClock.h"
#include "MeterReading.h"

struct MeterState;

// A moment as ISO 8601 local time with milliseconds and UTC offset, "2026-12-07T14:31:53.123+01:00",
// as the table's files write it.
std::string isoTime(const LocalStamp& at);

// "2026-12-07T14:31:53.123+01:00" as milliseconds since 1970 UTC. The fraction may have any
// number of digits (".5" is 500 ms; beyond the third they are cut off) or be missing, the offset
// may be "Z" or missing (UTC). Nothing for anything else, a date that does not exist (February
// 30th) or a field out of its range included.
std::optional<int64_t> parseIsoTime(const std::string& text);

// One reading as the JSON object subscribers get, in compact form:
// {"seq":1,"time":"…","display":"-1.234","value":-1.234,"unit":"kΩ","acdc":"DC","range":"AUTO",
//  "overload":false,"counts":-1234,"model":"KR31G"}. `value` is written as the display spells
// it ("2.50" gives 2.5), null without a number.
QByteArray readingJson(uint64_t seq, const std::string& time, const MeterReading& reading);
// The typed reading of the form's state of a meter as the published JSON has always read it
// (the number as the display spells it, an overload where the display shows an L), for callers
// that have no typed reading yet.
MeterReading publishedReading(const MeterState& state, const std::string& model);
// readingJson of publishedReading.
QByteArray readingJson(uint64_t seq, const std::string& time, const MeterState& reading,
                       const std::string& model);

// The limits a received message is held to: a reading is a few hundred bytes, so anything far
// larger is not one, and no text field of a reading is longer than a model's caption.
constexpr std::size_t kMaxReadingPayload = 4096;
constexpr std::size_t kMaxReadingText = 64;

// A reading message read back. `fault` says why one is not taken; with Fault::None `reading`
// holds the typed reading (its time from `time`), `seq` its number when it had one.
struct ReceivedReading {
    enum class Fault {
        None,
        TooLarge,     // a payload beyond kMaxReadingPayload
        NotJson,      // not a JSON object in UTF-8
        NotAReading,  // no time, or neither a number nor an overload
        BadTime,      // a time that is not an ISO 8601 time of a real day
        BadText,      // a text field too long or holding a control character
        BadNumber,    // a value or seq that is not a finite number of its kind
    };
    Fault fault = Fault::None;
    std::optional<uint64_t> seq;
    std::string time;
    MeterReading reading;
};

// The words for a fault, to follow "refused: ".
const char* faultText(ReceivedReading::Fault fault);

// The typed reading a message carries, as a meter's own line would have built it.
ReceivedReading parseReadingJson(const QByteArray& payload);

// Where a tool that discovers sensors finds the meter, and what it reads from the reading topic.
struct SensorDiscovery {
    std::string configTopic;  // PREFIX/sensor/<object>/config
    QByteArray config;        // JSON, retained
};

// The configuration of one meter as a sensor of the discovery convention: its state is the
// reading topic's `value` in `unit` (real symbols), available while the status topic says
// "online"; `client` names it and, with the model, makes its unique id.
SensorDiscovery sensorDiscovery(const std::string& discoveryPrefix, const std::string& client,
                                const std::string& model, const std::string& readingTopic,
                                const std::string& statusTopic, const std::string& unit);
