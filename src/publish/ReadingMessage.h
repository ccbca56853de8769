#pragma once

#include <QByteArray>
#include <cstdint>
#include <string>

#include "LocalClock.h"

struct MeterState;

// A moment as ISO 8601 local time with milliseconds and UTC offset, "2026-12-07T14:31:53.123+01:00",
// as the table's files write it.
std::string isoTime(const LocalStamp& at);

// One reading as the JSON object subscribers get, in compact form.
QByteArray readingJson(uint64_t seq, const std::string& time, const MeterState& reading,
                       const std::string& model);

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
