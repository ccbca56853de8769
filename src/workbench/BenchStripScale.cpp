#include "BenchStripScale.h"

#include <algorithm>
#include <cmath>

namespace {

// room above and below the values, as a share of their spread
constexpr double kMargin = 0.06;

struct Prefix {
    double factor;
    const char16_t* symbol;
};
constexpr Prefix kPrefixes[] = {{1e9, u"G"}, {1e6, u"M"}, {1e3, u"k"}, {1, u""},
                                {1e-3, u"m"}, {1e-6, u"µ"}, {1e-9, u"n"}, {1e-12, u"p"}};

}  // namespace

BenchStripScale BenchStripScale::fit(const BenchStripPoints::Range& values) {
    if (values.empty()) return {};
    const double lo = values.min;
    const double hi = values.max;
    if (lo == 0 && hi == 0) return BenchStripScale{-1, 1};
    double spread = hi - lo;
    // a steady value: a band of a thousandth of it (or of 1 at zero) around it
    if (!(spread > std::abs(hi) * 1e-6)) spread = std::max(std::abs(hi), 1e-12) * 1e-3 / (1 + 2 * kMargin);
    const double middle = (lo + hi) / 2;
    const double half = spread * (0.5 + kMargin);
    return BenchStripScale{middle - half, middle + half};
}

QString BenchStripScale::label(double v, const QString& unit) const {
    const double size = std::max(std::abs(low), std::abs(high));
    const Prefix* prefix = &kPrefixes[3];
    if (size > 0) {
        for (const Prefix& p : kPrefixes) {
            prefix = &p;
            if (size >= p.factor * 0.9995) break;
        }
    }
    // enough decimals that a tenth of the scale's height shows in the last digit
    const double step = (high - low) / 10 / prefix->factor;
    const int decimals = std::clamp(int(std::ceil(-std::log10(step))), 0, 6);
    QString text = QString::number(v / prefix->factor, 'f', decimals);
    if (text.startsWith(QLatin1Char('-')) && text.toDouble() == 0) text.remove(0, 1);
    return text + QLatin1Char(' ') + QString::fromUtf16(prefix->symbol) + unit;
}
