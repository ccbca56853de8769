#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "Result.h"

// The small pieces of text that rules are written in: durations, a number with a unit.
namespace RuleText {

// A duration: a plain number of seconds ("90", "0.5"), or numbers each followed by h, min (or
// m) or s, in that order ("1h30m", "2 min", "45s", "1.5h"). Refused: no number, a negative one,
// an unknown unit.
Result<int64_t> durationUs(std::string_view text);

// A number with an optional unit after it, as a threshold is written ("1.5 V", "200mA", "-3").
struct Quantity {
    double number = 0;
    QString unit;  // as written, empty when none
    // The number in the unit's base unit (200 mA is 0.2) and that base unit ("A").
    double base() const;
    QString baseUnit() const;
    // What one of the written unit is in the base unit: 0.001 for mA, 1 when there is none.
    double scale() const;
};
Result<Quantity> quantity(const QString& text);

// Text as the rules' messages quote it.
inline std::string quoted(const QString& text) {
    return "'" + text.toStdString() + "'";
}

}  // namespace RuleText
