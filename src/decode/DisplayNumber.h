#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// Reads a run of display positions as a whole number, the way the meter's digits mean it:
// a blank position in front of the display's first digit stands for a blanked leading zero,
// a blank after its last digit adds nothing (three-digit readings), and a blank between two
// digits, or any position that is not a single decimal digit, makes the run not a number.
// `first`..`last` are 0-based digit positions; `sign` is "-" or empty.
std::optional<int32_t> displayNumber(const std::array<std::string, 4>& digits, int first, int last,
                                     const std::string& sign);

// How many digits of the number displayNumber reads from all four positions stand after the
// decimal point lit at `pointPosition` (1: after the first digit, 3: after the third; 0: none).
// Blanks after the display's last digit are not digits: "05.0" followed by a blank has one.
int displayDecimals(const std::array<std::string, 4>& digits, int pointPosition);
