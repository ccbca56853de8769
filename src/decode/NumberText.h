#pragma once

#include <string>

// Numbers as every text output writes them (CSV files, published JSON, the lines of --decode):
// plain decimals, never an exponent, in the fewest digits that read back as the same number
// ("1234", "-0.012", "0.5", "17179869184"). Minus zero is "0". A value that is not finite has no
// text at all: each output writes what its format has for "no number" (an empty CSV field, JSON
// null), as none of them has a word for infinity that every reader takes.
namespace NumberText {

void append(std::string& out, double value);
std::string of(double value);

}  // namespace NumberText
