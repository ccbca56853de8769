#pragma once

#include "MeterReading.h"
#include "MeterState.h"

// The fields of the meter's state that a row of the record table is made of, from a reading:
// what the record store takes for a reading the rules let through after others (a pre-trigger
// reading), dated by the reading's own time.
inline MeterState recordedState(const MeterReading& reading) {
    MeterState s;
    s.ValueText = reading.display;
    s.UnitText = reading.lcdUnit;
    s.AcDcText = reading.acdc;
    s.AutoText = reading.range;
    s.NumericValue = float(reading.counts);
    s.ReadingUtcUs = reading.utcUs;
    return s;
}
