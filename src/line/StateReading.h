#pragma once

#include <string>

#include "MeterReading.h"
#include "MeterState.h"
#include "UnitPrefix.h"

// Fills the typed reading from the state the engine left after a completed reading. The number
// comes from the decoded counts and the place of the decimal point, never from the display text;
// the unit's symbols and its prefix split are worked out again only when the unit changes.
class StateReading {
public:
    void fill(MeterReading& out, const MeterState& state, int64_t utcUs, const std::string& model);

private:
    std::string lcdUnit_ = "\x01";  // no unit seen yet
    std::string unit_;
    UnitPrefix::Split split_;
};
