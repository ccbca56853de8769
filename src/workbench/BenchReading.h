#pragma once

#include <QString>
#include <QtGlobal>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "ChannelHistory.h"

// A channel of the bench: a meter (local or through a broker) or a math channel computed from
// other channels.
enum class ChannelKind { Meter, Math };

struct ChannelInfo {
    int id = -1;
    QString name;  // unique within the bench; what math expressions refer to
    ChannelKind kind = ChannelKind::Meter;
    QString unit;        // base unit of the latest reading ("V", "A", "W", "Wh"); empty before the first
    QString source;      // a meter: where it reads from ("KR31G@/dev/ttyUSB0", "mqtt://host/dmm/KR31G-x")
    QString expression;  // a math channel: its expression as given
};

// One reading of a channel, or a gap (no value: a math channel with a stale or overloaded input).
struct BenchReading {
    qint64 timeMs = 0;  // the reading's own time, milliseconds since 1970 UTC
    double value = std::numeric_limits<double>::quiet_NaN();  // in the base unit; NaN: no number
    QString unit;           // base unit: "V", "A", "Ω", "W", "Wh", "Hz", "°C"
    QString display;        // as shown, with its displayed unit: "500.0 mA"; a math channel: SI-formatted
    QString acdc;           // "AC", "DC" or empty
    QString range;          // "AUTO", "MANU" or empty
    bool overload = false;  // the meter showed an overload ("OL"): a reading without a number

    bool hasValue() const { return !std::isnan(value); }
    // A gap: neither a number nor an overload shown (math channels only).
    bool isGap() const { return !hasValue() && !overload; }
};

// Statistics of a channel's numbers since its last reset (by the user, or when its unit
// changed). Overloads and gaps are counted apart.
struct ChannelStats {
    uint64_t count = 0;      // numbers
    uint64_t gaps = 0;       // readings without a number and without an overload
    uint64_t overloads = 0;  // overloads shown
    double min = 0;
    double max = 0;
    double mean = 0;
    double stddev = 0;  // sample standard deviation (n - 1); 0 below two readings
};
