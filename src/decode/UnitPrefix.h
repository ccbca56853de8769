#pragma once

#include <string>
#include <string_view>

// SI prefixes of the units a meter shows, in UTF-8: a displayed unit split into its power of ten
// and its base unit, and a value taken from the one to the other.
namespace UnitPrefix {

// "mA" gives -3 and "A", "kΩ" 3 and "Ω", "µF" -6 and "F"; "%", "°C" and a unit with no
// prefix stay as they are, with 0.
struct Split {
    int exponent = 0;
    std::string base;

    // A number in the displayed unit in the base unit: 2.5 mA is 0.0025 A (divided, not
    // multiplied by 0.001, so that decimal readings stay as near to their digits as they can).
    double toBase(double number) const;
};
Split split(std::string_view unit);

// The prefix of a power of ten that is a multiple of three from -12 to 9 ("m", "µ"); empty for
// 0 and for any other power.
std::string_view symbol(int exponent);

}  // namespace UnitPrefix
