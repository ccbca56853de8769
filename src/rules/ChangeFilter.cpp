#include "ChangeFilter.h"

#include <cmath>

#include "MeterReading.h"

bool ChangeFilter::pass(const MeterReading& reading) {
    const bool overload = !reading.hasNumber();
    const double value = reading.baseValue;
    bool changed = !any_ || overload != overload_ || reading.baseUnit != unit_;
    // from zero every change is more than any share of it
    if (!changed && !overload)
        changed = std::fabs(value - last_) > share_ * std::fabs(last_) || (last_ == 0 && value != 0);
    if (!changed) {
        ++skipped_;
        ++total_;
        return false;
    }
    any_ = true;
    overload_ = overload;
    last_ = overload ? 0 : value;
    unit_ = reading.baseUnit;
    skippedBefore_ = skipped_;
    skipped_ = 0;
    return true;
}
