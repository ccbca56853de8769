#include "SimReading.h"

#include <cmath>

namespace dmmsim {

namespace {

struct FunctionName {
    const char* name;
    SimFunction function;
    Coupling coupling;
};

constexpr FunctionName kNames[] = {
    {"vdc", SimFunction::Volts, Coupling::Dc},
    {"vac", SimFunction::Volts, Coupling::Ac},
    {"ohm", SimFunction::Ohms, Coupling::None},
    {"cont", SimFunction::Continuity, Coupling::None},
    {"diode", SimFunction::Diode, Coupling::None},
    {"hz", SimFunction::Hertz, Coupling::None},
    {"rpm", SimFunction::Rpm, Coupling::None},
    {"cap", SimFunction::Capacitance, Coupling::None},
    {"ua", SimFunction::MicroAmps, Coupling::Dc},
    {"ma", SimFunction::MilliAmps, Coupling::Dc},
    {"a", SimFunction::Amps, Coupling::Dc},
    {"degc", SimFunction::Celsius, Coupling::None},
    {"degf", SimFunction::Fahrenheit, Coupling::None},
    {"duty", SimFunction::DutyCycle, Coupling::None},
};

}  // namespace

const char* functionName(SimFunction f) {
    for (const auto& n : kNames) {
        if (n.function == f) return n.name;
    }
    return "?";
}

std::optional<SimFunction> functionByName(std::string_view name) {
    for (const auto& n : kNames) {
        if (name == n.name) return n.function;
    }
    return std::nullopt;
}

std::string functionNameList() {
    std::string out;
    for (const auto& n : kNames) {
        if (!out.empty()) out += ", ";
        out += n.name;
    }
    return out;
}

int prefixExponent(Prefix p) {
    switch (p) {
        case Prefix::Nano:
            return -9;
        case Prefix::Micro:
            return -6;
        case Prefix::Milli:
            return -3;
        case Prefix::Kilo:
            return 3;
        case Prefix::Mega:
            return 6;
        case Prefix::None:
            break;
    }
    return 0;
}

std::string SimReading::text() const {
    std::string out = negative ? "-" : "";
    auto pointAfter = [&](int n) {
        if (point == n) out += '.';
    };
    if (overload) {
        pointAfter(1);
        out += '0';
        pointAfter(2);
        out += 'L';
        pointAfter(3);
        return out;
    }
    for (int i = 0; i < 4; ++i) {
        if (digits[i] != ' ') out += digits[i];
        pointAfter(i + 1);
    }
    return out;
}

std::optional<int32_t> SimReading::counts() const {
    if (overload) return std::nullopt;
    int32_t v = 0;
    for (char d : digits) {
        if (d >= '0' && d <= '9')
            v = v * 10 + (d - '0');
        else if (v != 0)
            break;  // a blank after the digits ends a shorter reading
    }
    return negative ? -v : v;
}

std::optional<double> SimReading::value() const {
    const auto c = counts();
    if (!c) return std::nullopt;
    // digits after the point, counted among the digits actually shown
    int decimals = 0;
    if (point > 0) {
        for (int i = point; i < 4; ++i) decimals += digits[i] != ' ';
    }
    return *c * std::pow(10.0, prefixExponent(prefix) - decimals);
}

bool SimReading::operator==(const SimReading& o) const {
    return function == o.function && coupling == o.coupling && rangeCode == o.rangeCode &&
           prefix == o.prefix && point == o.point && digits == o.digits && negative == o.negative &&
           overload == o.overload && autoRange == o.autoRange && hold == o.hold &&
           lowBattery == o.lowBattery && rs232 == o.rs232 && recMark == o.recMark;
}

}  // namespace dmmsim
