#include "BenchStripScale.h"

#include <algorithm>
#include <cmath>

#include "BenchUnits.h"

namespace {

// room above and below the values, as a share of their spread
constexpr double kMargin = 0.06;

}  // namespace

BenchStripScale BenchStripScale::fit(const BenchStripPoints::Range& values) {
    if (values.empty()) return {};
    const double lo = values.min;
    const double hi = values.max;
    if (lo == 0 && hi == 0) return BenchStripScale{-1, 1};
    double spread = hi - lo;
    // a steady value: a band of a thousandth of it around it
    if (!(spread > std::abs(hi) * 1e-6)) spread = std::max(std::abs(hi), 1e-12) * 1e-3 / (1 + 2 * kMargin);
    const double middle = (lo + hi) / 2;
    const double half = spread * (0.5 + kMargin);
    return BenchStripScale{middle - half, middle + half};
}

QString BenchStripScale::label(double v, const QString& unit) const {
    // enough significant digits that a tenth of the scale's height shows in the last one
    const double size = std::max(std::abs(low), std::abs(high));
    const double step = (high - low) / 10;
    const int digits = size > 0 && step > 0 ? int(std::floor(std::log10(size / step))) + 2 : 3;
    return BenchUnits::formatSi(v, unit, std::clamp(digits, 3, 7));
}
