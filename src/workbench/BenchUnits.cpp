#include "BenchUnits.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "UnitPrefix.h"

namespace BenchUnits {

Split splitPrefix(const QString& unit) {
    const UnitPrefix::Split s = UnitPrefix::split(unit.toStdString());
    return {s.exponent, QString::fromStdString(s.base)};
}

double Split::toBase(double number) const {
    return UnitPrefix::Split{exponent, {}}.toBase(number);
}

std::optional<int> resolutionOf(const QString& display) {
    const qsizetype space = display.indexOf(QLatin1Char(' '));
    const QString digits = display.left(space);
    if (digits.isEmpty() || !std::any_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    const qsizetype point = digits.indexOf(QLatin1Char('.'));
    const int decimals = point < 0 ? 0 : int(digits.size() - point - 1);
    const int exponent = space < 0 ? 0 : splitPrefix(display.mid(space + 1)).exponent;
    return exponent - decimals;
}

double roundedTo(double value, int significant) {
    if (!std::isfinite(value) || value == 0) return value;
    char text[64];
    const auto done = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                                    std::clamp(significant, 1, 17) - 1);
    double rounded = value;
    if (done.ec == std::errc()) std::from_chars(text, done.ptr, rounded);
    return rounded;
}

QString prefixSymbol(int exponent) {
    const std::string_view symbol = UnitPrefix::symbol(exponent);
    return QString::fromUtf8(symbol.data(), qsizetype(symbol.size()));
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
    const std::string_view symbol = UnitPrefix::symbol(exponent);
    const QString prefix = QString::fromUtf8(symbol.data(), static_cast<qsizetype>(symbol.size()));
    const QString number = QString::number(scaled, 'f', decimals);
    return unit.isEmpty() && prefix.isEmpty() ? number : number + ' ' + prefix + unit;
}

}  // namespace BenchUnits
