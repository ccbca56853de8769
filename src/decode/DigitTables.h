#pragma once

#include <array>
#include <cstdint>

// Range coding of the digit-frame meters: for each function that depends on the range nibble,
// what that range means for the unit text, the prefix and unit annunciators and the decimal point.

// Annunciators a range (or a function) lights beside the unit itself.
enum DigitUnitFlag : uint8_t {
    FlagKilo = 1 << 0,   // LCDk
    FlagMega = 1 << 1,   // LCDM1
    FlagMilli = 1 << 2,  // Lcdm
    FlagMicro = 1 << 3,  // LCDu
    FlagAmp = 1 << 4,    // LCDA
    FlagNano = 1 << 5,   // LCDn
};

struct DigitRange {
    const char* unit = nullptr;  // nullptr: the meter does not use this range; nothing is set
    uint8_t flags = 0;           // DigitUnitFlag bits
    uint8_t point = 0;           // decimal point after digit 1, 2 or 3; 0 for none
};

// Indexed by the range nibble read as a decimal digit.
using DigitRangeTable = std::array<DigitRange, 10>;

namespace DigitTables {

const DigitRangeTable& voltage(bool variant);
const DigitRangeTable& microampere();
const DigitRangeTable& milliampere();
const DigitRangeTable& resistance();
// Range 0 reads in kHz on the models whose counter starts at the kilohertz range.
const DigitRangeTable& hertz(bool kiloAtRangeZero);
const DigitRangeTable& rpm();
const DigitRangeTable& capacitance();
// Used whatever the function when the status and option-1 nibbles say "frequency".
const DigitRangeTable& frequencyOverride();

}  // namespace DigitTables
