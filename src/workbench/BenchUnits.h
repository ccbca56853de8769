#pragma once

#include <QString>

// Units of the bench: readings in their displayed unit taken to the base unit, and numbers in a
// base unit shown with an SI prefix.
namespace BenchUnits {

// The factor and the base unit of a displayed unit: "mA" gives 0.001 and "A", "kΩ" 1000 and
// "Ω", "%" 1 and "%". A unit with no prefix stays as it is.
struct Split {
    double factor = 1;
    QString base;
};
Split splitPrefix(const QString& unit);

// The value with four significant digits and the SI prefix that keeps it between 1 and 1000:
// 0.01667 and "Wh" give "16.67 mWh", 6 and "W" "6.000 W". "--" for NaN.
QString formatSi(double value, const QString& unit, int digits = 4);

}  // namespace BenchUnits
