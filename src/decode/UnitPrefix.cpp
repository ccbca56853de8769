#include "UnitPrefix.h"

#include <cmath>

namespace UnitPrefix {

namespace {

// Units a meter shows after its prefix; anything else is taken as it stands.
bool isBaseUnit(std::string_view unit) {
    for (std::string_view known : {"V", "A", "\u03A9", "Hz", "F", "W", "Wh", "Ah", "s", "h", "S"}) {
        if (unit == known) return true;
    }
    return false;
}

struct Prefix {
    std::string_view text;
    int exponent;
};
constexpr Prefix kPrefixes[] = {{"p", -12}, {"n", -9}, {"\u00B5", -6}, {"m", -3},
                                {"k", 3},   {"M", 6},  {"G", 9}};

}  // namespace

Split split(std::string_view unit) {
    for (const Prefix& p : kPrefixes) {
        if (unit.size() > p.text.size() && unit.substr(0, p.text.size()) == p.text &&
            isBaseUnit(unit.substr(p.text.size())))
            return {p.exponent, std::string(unit.substr(p.text.size()))};
    }
    return {0, std::string(unit)};
}

double Split::toBase(double number) const {
    return exponent < 0 ? number / std::pow(10.0, -exponent) : number * std::pow(10.0, exponent);
}

std::string_view symbol(int exponent) {
    for (const Prefix& p : kPrefixes) {
        if (p.exponent == exponent) return p.text;
    }
    return {};
}

}  // namespace UnitPrefix
