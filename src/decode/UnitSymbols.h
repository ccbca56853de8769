#pragma once

#include <optional>
#include <string>
#include <string_view>

// A unit text in the LCD font's codes ("k*", "#", "uF") as a reader outside the program writes
// it, in UTF-8 ("kΩ", "°C", "µF"). Codes of a function without a unit of its own read as what
// the display measures there: continuity as ohms, the diode test as volts.
std::string realUnitText(std::string_view lcdUnit);

// The value text of the display ("-1.234", ".5") as a plain number in the displayed unit;
// nothing for an overload ("0.L") or a text that is not a number.
std::optional<double> plainNumber(std::string_view valueText);
