#include "DigitTables.h"

namespace {

constexpr DigitRange none{};

constexpr DigitRange r(const char* unit, uint8_t flags, uint8_t point) {
    return DigitRange{unit, flags, point};
}

// The current ranges read the same unit at every range; only the first ranges move the point.
constexpr DigitRangeTable currentTable(const char* unit, uint8_t flags, uint8_t point0, uint8_t point1) {
    DigitRangeTable t{};
    for (auto& e : t) e = r(unit, flags, 0);
    t[0].point = point0;
    t[1].point = point1;
    return t;
}

constexpr uint8_t k = FlagKilo;
constexpr uint8_t M = FlagMega;
constexpr uint8_t m = FlagMilli;
constexpr uint8_t u = FlagMicro;
constexpr uint8_t n = FlagNano;
constexpr uint8_t A = FlagAmp;

constexpr DigitRangeTable kVoltage = {
    r("mV", m, 3), r("V", 0, 1), r("V", 0, 2), r("V", 0, 3), r("V", 0, 0), none, none, none, none, none,
};

// The variant meter counts its voltage ranges from the volt range upwards, millivolts last.
constexpr DigitRangeTable kVoltageVariant = {
    r("V", 0, 1), r("V", 0, 2), r("V", 0, 3), r("V", 0, 0), r("mV", m, 3), none, none, none, none, none,
};

constexpr DigitRangeTable kMicroampere = currentTable("uA", u | A, 3, 0);
constexpr DigitRangeTable kMilliampere = currentTable("mA", m | A, 2, 3);

constexpr DigitRangeTable kResistance = {
    r("*", 0, 3),  r("k*", k, 1), r("k*", k, 2), r("k*", k, 3), r("M*", M, 1),
    r("M*", M, 2), none,          none,          none,          none,
};

constexpr DigitRangeTable kHertz = {
    r("Hz", 0, 0),  r("kHz", k, 2), r("kHz", k, 3), r("MHz", M, 1), r("MHz", M, 2),
    r("MHz", M, 3), none,           none,           none,           none,
};

constexpr DigitRangeTable kHertzKiloFirst = {
    r("kHz", k, 1), r("kHz", k, 2), r("kHz", k, 3), r("MHz", M, 1), r("MHz", M, 2),
    r("MHz", M, 3), none,           none,           none,           none,
};

constexpr DigitRangeTable kRpm = {
    r("kRPM", k, 2),
    r("kRPM", k, 3),
    r("MRPM", M, 1),
    r("MRPM", M, 2),
    r("MRPM", M, 3),
    r("MRPM", M, 0),
    none,
    none,
    none,
    none,
};

constexpr DigitRangeTable kCapacitance = {
    r("nF", n, 1), r("nF", n, 2), r("nF", n, 3), r("uF", u, 1), r("uF", u, 2),
    r("uF", u, 3), r("mF", m, 1), r("mF", m, 2), none,          none,
};

constexpr DigitRangeTable kFrequencyOverride = kHertzKiloFirst;

}  // namespace

namespace DigitTables {

const DigitRangeTable& voltage(bool variant) {
    return variant ? kVoltageVariant : kVoltage;
}
const DigitRangeTable& microampere() {
    return kMicroampere;
}
const DigitRangeTable& milliampere() {
    return kMilliampere;
}
const DigitRangeTable& resistance() {
    return kResistance;
}
const DigitRangeTable& hertz(bool kiloAtRangeZero) {
    return kiloAtRangeZero ? kHertzKiloFirst : kHertz;
}
const DigitRangeTable& rpm() {
    return kRpm;
}
const DigitRangeTable& capacitance() {
    return kCapacitance;
}
const DigitRangeTable& frequencyOverride() {
    return kFrequencyOverride;
}

}  // namespace DigitTables
