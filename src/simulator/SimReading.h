#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dmmsim {

// What the simulated meter measures. Not every family can show every function: segment meters
// have no RPM or Fahrenheit, digit meters no duty cycle.
enum class SimFunction : uint8_t {
    Volts,
    Ohms,
    Continuity,
    Diode,
    Hertz,
    Rpm,
    Capacitance,
    MicroAmps,
    MilliAmps,
    Amps,
    Celsius,
    Fahrenheit,
    DutyCycle,
};

enum class Prefix : uint8_t { None, Nano, Micro, Milli, Kilo, Mega };
enum class Coupling : uint8_t { None, Ac, Dc };

// Short command-line names: "vdc", "ohm", "hz", ...; Volts answers to "vdc" and "vac".
const char* functionName(SimFunction f);
std::optional<SimFunction> functionByName(std::string_view name);
// "vdc, vac, ohm, ..." for help and error texts.
std::string functionNameList();

int prefixExponent(Prefix p);

// One display of the simulated meter: what its LCD shows and what its annunciators say.
struct SimReading {
    SimFunction function = SimFunction::Volts;
    Coupling coupling = Coupling::Dc;
    int rangeCode = 0;  // the meter's own range number (sent as such in digit frames)
    Prefix prefix = Prefix::None;
    int point = 0;  // 0: no decimal point; n: the point after digit n (1..3)
    std::array<char, 4> digits{{'0', '0', '0', '0'}};  // '0'..'9', or ' ' for a blank position
    bool negative = false;
    bool overload = false;  // the display shows "0L" in the middle positions instead of the digits
    bool autoRange = true;
    bool hold = false;
    bool lowBattery = false;
    bool rs232 = true;  // the RS-232 mark on the LCD
    bool recMark = false;

    // The display as a reader writes it down: sign, lit digits and the point, e.g. "-1.234";
    // an overload shows as the point(s) of the range around "0L", e.g. ".0L" or "0.L".
    std::string text() const;
    // The digits read as one signed number without the point (-1.234 gives -1234); nullopt for
    // an overload display.
    std::optional<int32_t> counts() const;
    // The reading in the function's base unit (volts, ohms, hertz, ...); nullopt on overload.
    std::optional<double> value() const;

    bool operator==(const SimReading& o) const;
    bool operator!=(const SimReading& o) const { return !(*this == o); }
};

}  // namespace dmmsim
