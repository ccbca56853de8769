#pragma once

#include <string>
#include <string_view>

// Readings in the symbols and numbers that programs outside this one understand: the LCD font's
// unit codes spelled out in Unicode, and the displayed value as a plain decimal number.
namespace UnitSymbols {

// The unit text in real symbols, UTF-8: "k*" gives "kΩ", "uF" "µF", "#" "°C", "?" "°F".
// Continuity ("&", "&*") reads in ohm and the diode test (")", ")V") in volt, as the meter shows
// them.
// Other characters (prefixes, "V", "Hz", "%") stay as they are.
std::string realUnitText(std::string_view lcdUnit);

// Real symbols back in the LCD font's codes, as the record table stores a unit: "kΩ" gives
// "k*", "µA" "uA", "°C" "#", "°F" "?".
std::string lcdUnitText(std::string_view realUnit);

// The displayed value text as a plain decimal number in the shown unit, without leading zeros,
// trailing decimal zeros or a lone decimal point: "0050" gives "50", "02.50" "2.5", "-0.012"
// "-0.012", "-0.000" "0". Empty for an overload ("0.L") or any text that is not a number.
std::string plainNumber(std::string_view valueText);

}  // namespace UnitSymbols
