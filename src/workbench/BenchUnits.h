#pragma once

#include <QString>
#include <optional>

// Units of the bench: readings in their displayed unit taken to the base unit, and numbers in a
// base unit shown with an SI prefix.
namespace BenchUnits {

// The power of ten and the base unit of a displayed unit: "mA" gives -3 and "A", "kΩ" 3 and
// "Ω", "%" 0 and "%". A unit with no prefix stays as it is.
struct Split {
    int exponent = 0;
    QString base;

    // A number in the displayed unit in the base unit: 2.5 mA is 0.0025 A (divided, not
    // multiplied by 0.001, so that decimal readings stay as near to their digits as they can).
    double toBase(double number) const;
};
Split splitPrefix(const QString& unit);

// The power of ten of the last digit of a display ("5.418 mA": -6, "12.00 V": -2), when it shows
// a number.
std::optional<int> resolutionOf(const QString& display);

// `value` rounded to `significant` digits, as the double nearest the rounded decimal: the noise
// of arithmetic ("0.000005547083333333337") goes, the digits meant stay.
double roundedTo(double value, int significant);

// The prefix of a power of ten that is a multiple of three from -12 to 9 ("m", "µ"); empty for
// any other.
QString prefixSymbol(int exponent);

// The value with four significant digits and the SI prefix that keeps it between 1 and 1000:
// 0.01667 and "Wh" give "16.67 mWh", 6 and "W" "6.000 W". "--" for NaN.
QString formatSi(double value, const QString& unit, int digits = 4);

}  // namespace BenchUnits
