#pragma once

#include <cstdint>
#include <limits>
#include <string>

// One reading as every consumer of a meter takes it: the window's record and chart, the headless
// printer and recorder, the bench, the publisher, the rules and the server. It is built once, by
// the meter line (or, for a meter heard through a broker, by the message codec), from the decoded
// digits and decimal point, so no consumer ever turns the display text back into a number and no
// number depends on the locale.
struct MeterReading {
    static constexpr double kNoNumber = std::numeric_limits<double>::quiet_NaN();

    // When the reading's frame ended on the line, in microseconds since 1970 UTC. Readings of one
    // line never go back in time.
    int64_t utcUs = 0;

    // The number as displayed, in the displayed unit ("02.50" mA gives 2.5); NaN for an overload.
    double value = kNoNumber;
    // The displayed unit in real symbols ("mA", "kΩ", "°C"); empty when the meter shows none.
    std::string unit;
    // The unit without its SI prefix ("A", "Ω") and the value in it (0.0025).
    std::string baseUnit;
    double baseValue = kNoNumber;

    // The display as shown: sign, digits and decimal point ("-1.234", "0.L" for an overload).
    std::string display;
    // The displayed unit in the LCD font's codes ("m*" for mΩ), as the record table stores it.
    std::string lcdUnit;
    // The display in counts, the digits as one integer (-1.234 gives -1234); full scale at overload.
    double counts = 0;

    std::string acdc;   // "AC", "DC" or empty
    std::string range;  // "AUTO" or "MANU"
    bool overload = false;
    std::string model;  // the model's caption ("KR31G")

    bool hasNumber() const { return value == value; }
};
