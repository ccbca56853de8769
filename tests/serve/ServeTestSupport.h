#pragma once

// Readings as a meter line makes them, for feeding the served channels in tests.
#include <string>

#include "MeterReading.h"

// A reading of `display` in `unit` (real symbols, with its prefix) whose base unit is `base`
// with `scale` between them: reading("1.234", "mV", "V", 1e-3).
inline MeterReading servedReading(const std::string& display, const std::string& unit,
                                  const std::string& base, double scale, const std::string& acdc = "DC",
                                  int64_t utcUs = 1765000000000000) {
    MeterReading r;
    r.utcUs = utcUs;
    r.display = display;
    r.overload = display.find('L') != std::string::npos;
    r.value = r.overload ? MeterReading::kNoNumber : std::stod(display);
    r.unit = unit;
    r.lcdUnit = unit;
    r.baseUnit = base;
    r.baseValue = r.value * scale;
    r.acdc = acdc;
    r.range = "AUTO";
    r.model = "KR31G";
    std::string digits;
    for (const char c : display)
        if (c != '.') digits += c;
    r.counts = r.overload ? 4000 : std::stod(digits);
    return r;
}
