#include "BenchTileText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "BenchUnits.h"

namespace {

constexpr int kMathDigits = 6;
constexpr int kMostDecimals = 9;

// Units that take an SI prefix: not a percentage, a temperature or a bare number.
bool takesPrefix(const QString& unit) {
    return !unit.isEmpty() && !unit.startsWith(QChar(0x00B0)) && unit != QLatin1String("%");
}

double scaled(double value, int exponent) {
    // by a power of ten taken as a whole number, so that decimal values keep their digits
    return exponent < 0 ? value * std::pow(10.0, -exponent) : value / std::pow(10.0, exponent);
}

int digitsBeforePoint(double magnitude) {
    return magnitude >= 1 ? int(std::floor(std::log10(magnitude))) + 1 : 1;
}

// The power of ten (a multiple of three) that puts `magnitude` between 1 and 1000.
int prefixExponent(double magnitude) {
    if (!(magnitude > 0) || !std::isfinite(magnitude)) return 0;
    return std::clamp(int(std::floor(std::log10(magnitude) / 3)) * 3, -12, 9);
}

}  // namespace

QString BenchTileText::number(double value, const QString& unit, int exponent, int decimals) {
    if (std::isnan(value)) return QStringLiteral("--");
    char text[400];
    double v = scaled(value, exponent);
    if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals)) v = 0;  // never "-0.000"
    const auto done = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
    const QString shown = QString::fromLatin1(text, done.ec == std::errc() ? done.ptr - text : 0);
    const QString prefix = exponent == 0 ? QString() : BenchUnits::prefixSymbol(exponent);
    return unit.isEmpty() && prefix.isEmpty() ? shown : shown + QLatin1Char(' ') + prefix + unit;
}

BenchTileText BenchTileText::of(const ChannelInfo& channel, const std::optional<BenchReading>& latest,
                                const ChannelStats& stats, std::optional<double> relValue) {
    BenchTileText t;
    const QString& unit = channel.unit;
    const bool meter = channel.kind == ChannelKind::Meter;
    double range = 0;  // the largest magnitude shown
    if (stats.count > 0) range = std::max(std::fabs(stats.min), std::fabs(stats.max));
    if (latest && latest->hasValue()) range = std::max(range, std::fabs(latest->value));
    if (relValue) range = std::max(range, std::fabs(*relValue));
    if (!std::isfinite(range)) range = 0;

    const std::optional<int> resolution =
        meter && latest ? BenchUnits::resolutionOf(latest->display) : std::nullopt;
    if (takesPrefix(unit)) {
        t.exponent = prefixExponent(range);
        // the meter's own prefix when the range reads well in it (below 100000)
        if (meter && latest && !latest->display.isEmpty()) {
            const qsizetype space = latest->display.indexOf(QLatin1Char(' '));
            const int shown =
                space < 0 ? 0 : BenchUnits::splitPrefix(latest->display.mid(space + 1)).exponent;
            if (scaled(range, shown) < 1e5) t.exponent = shown;
        }
    }
    if (resolution)
        t.decimals = std::clamp(t.exponent - *resolution, 0, kMostDecimals);
    else
        t.decimals = std::clamp(kMathDigits - digitsBeforePoint(scaled(range, t.exponent)), 0, kMostDecimals);

    if (!latest)
        t.value = QStringLiteral("\u2014");
    else if (meter && !latest->display.isEmpty())
        t.value = latest->display;
    else
        t.value = number(latest->value, unit, t.exponent, t.decimals);
    const QString none = QStringLiteral("\u2014");
    t.min = stats.count > 0 ? number(stats.min, unit, t.exponent, t.decimals) : none;
    t.max = stats.count > 0 ? number(stats.max, unit, t.exponent, t.decimals) : none;
    t.mean = stats.count > 0 ? number(stats.mean, unit, t.exponent, t.decimals) : none;
    t.stddev = stats.count > 1 ? number(stats.stddev, unit, t.exponent, t.decimals) : none;
    if (relValue) t.rel = number(*relValue, unit, t.exponent, t.decimals);
    return t;
}
