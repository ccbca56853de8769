#pragma once

#include <QString>
#include <optional>

#include "BenchReading.h"

// The numbers of a tile as text, all with one SI prefix, so that they read side by side: the
// prefix of the value as shown where the range of the statistics allows, otherwise the one the
// range needs. A meter's numbers keep the meter's resolution (the last digit of its display); a
// math channel's, six significant digits of the largest of them. Plain decimals, never an
// exponent, whatever the locale.
struct BenchTileText {
    QString value;  // a meter's as the meter shows it
    QString min, max, mean, stddev;
    QString rel;
    int exponent = 0;  // the power of ten of the prefix
    int decimals = 0;  // after the point, at that prefix

    static BenchTileText of(const ChannelInfo& channel, const std::optional<BenchReading>& latest,
                            const ChannelStats& stats, std::optional<double> relValue);

    // `value` in the base unit at the prefix of `exponent` with `decimals` after the point:
    // 0.005418 and "A" at -3 with 3 "5.418 mA".
    static QString number(double value, const QString& unit, int exponent, int decimals);
};
