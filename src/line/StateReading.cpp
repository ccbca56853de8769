#include "StateReading.h"

#include <cmath>

#include "UnitSymbols.h"

void StateReading::fill(MeterReading& out, const MeterState& state, int64_t utcUs, const std::string& model) {
    if (state.UnitText != lcdUnit_) {
        lcdUnit_ = state.UnitText;
        unit_ = UnitSymbols::realUnitText(lcdUnit_);
        split_ = UnitPrefix::split(unit_);
    }
    out.utcUs = utcUs;
    out.counts = state.NumericValue;
    out.overload = state.Overload;
    if (state.Overload) {
        out.value = MeterReading::kNoNumber;
        out.baseValue = MeterReading::kNoNumber;
    } else {
        // divided by a power of ten, not multiplied by its inverse: 1234 counts at three decimals
        // is exactly the double nearest 1.234
        out.value = double(state.NumericValue) / std::pow(10.0, state.Decimals);
        // a display of "-0.000" is zero
        if (out.value == 0) out.value = 0;
        out.baseValue = split_.toBase(out.value);
    }
    out.unit = unit_;
    out.baseUnit = split_.base;
    out.display = state.ValueText;
    out.lcdUnit = state.UnitText;
    out.acdc = state.AcDcText;
    out.range = state.AutoText;
    out.model = model;
}
