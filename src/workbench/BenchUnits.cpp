#include "BenchUnits.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace BenchUnits {

namespace {

// Units a meter shows after its prefix; anything else is taken as it stands.
bool isBaseUnit(const QString& unit) {
    static const QStringList known = {"V", "A", "\u03A9", "Hz", "F", "W", "Wh", "Ah", "s", "h", "S"};
    return known.contains(unit);
}

struct Prefix {
    QChar letter;
    int exponent;
};
const Prefix kPrefixes[] = {{u'p', -12}, {u'n', -9}, {QChar(0x00B5), -6}, {u'm', -3}, {u'k', 3},
                            {u'M', 6},   {u'G', 9}};

}  // namespace

Split splitPrefix(const QString& unit) {
    if (unit.size() >= 2 && isBaseUnit(unit.mid(1))) {
        for (const Prefix& p : kPrefixes) {
            if (unit.at(0) == p.letter) return {p.exponent, unit.mid(1)};
        }
    }
    return {0, unit};
}

double Split::toBase(double number) const {
    return exponent < 0 ? number / std::pow(10.0, -exponent) : number * std::pow(10.0, exponent);
}

QString formatSi(double value, const QString& unit, int digits) {
    if (std::isnan(value)) return QStringLiteral("--");
    if (std::isinf(value)) return QString(value < 0 ? "-\u221E " : "\u221E ") + unit;
    int exponent = 0;
    // prefixes only for units that take them; a percentage or a temperature stays as it is
    const bool prefixed = !unit.isEmpty() && !unit.startsWith(QChar(0x00B0)) && unit != "%";
    if (prefixed && value != 0) {
        const double magnitude = std::fabs(value);
        exponent = static_cast<int>(std::floor(std::log10(magnitude) / 3)) * 3;
        exponent = std::clamp(exponent, -12, 9);
        // rounding to the shown digits may reach the next thousand: 999.96 m is 1.000
        const double scaled = magnitude / std::pow(10.0, exponent);
        const int before = scaled >= 100 ? 3 : scaled >= 10 ? 2 : 1;
        const double rounded =
            std::round(scaled * std::pow(10.0, digits - before)) / std::pow(10.0, digits - before);
        if (rounded >= 1000 && exponent < 9) exponent += 3;
    }
    const double scaled = value / std::pow(10.0, exponent);
    const double magnitude = std::fabs(scaled);
    const int before = magnitude >= 10 ? static_cast<int>(std::floor(std::log10(magnitude))) + 1 : 1;
    const int decimals = std::max(0, digits - before);
    QString prefix;
    for (const Prefix& p : kPrefixes) {
        if (p.exponent == exponent) prefix = p.letter;
    }
    const QString number = QString::number(scaled, 'f', decimals);
    return unit.isEmpty() && prefix.isEmpty() ? number : number + ' ' + prefix + unit;
}

}  // namespace BenchUnits
