#include "BenchPlots.h"

#include <algorithm>
#include <cmath>

std::vector<XyPoint> BenchXy::pair(const ChannelHistory& x, const ChannelHistory& y, int64_t fromMs,
                                   int64_t toMs, int64_t maxAgeMs) {
    std::vector<XyPoint> out;
    ChannelHistory::Cursor xAt(x);
    for (const ChannelHistory::Segment& part : y.segments()) {
        const HistorySeries& level = y.level(part.level);
        for (int64_t i = level.lowerBound(fromMs, part.from, part.to); i < part.to; ++i) {
            const int64_t t = level.time(i);
            if (t > toMs) break;
            if (level.isGap(i) || !xAt.moveTo(t)) continue;
            const double xv = xAt.value();
            if (std::isnan(xv) || t - xAt.time() > std::max(maxAgeMs, xAt.bucketMs())) continue;
            out.push_back(XyPoint{xv, level.value(i), t});
        }
    }
    return out;
}

void XyViewport::follow(const std::vector<XyPoint>& points) {
    if (manual_) return;
    BenchStripPoints::Range xs, ys;
    for (const XyPoint& p : points) {
        xs.take(p.x, p.x);
        ys.take(p.y, p.y);
    }
    x_ = BenchStripScale::fit(xs);
    y_ = BenchStripScale::fit(ys);
}

void XyViewport::zoom(double factor, double ax, double ay) {
    if (!(factor > 0)) return;
    const auto scale = [factor](BenchStripScale& s, double anchor) {
        s.low = anchor - (anchor - s.low) * factor;
        s.high = anchor + (s.high - anchor) * factor;
    };
    scale(x_, ax);
    scale(y_, ay);
    manual_ = true;
}

void XyViewport::pan(double xShare, double yShare) {
    const double dx = (x_.high - x_.low) * xShare;
    const double dy = (y_.high - y_.low) * yShare;
    x_.low += dx;
    x_.high += dx;
    y_.low += dy;
    y_.high += dy;
    manual_ = true;
}

int BenchHistogram::sturgesBins(uint64_t n) {
    return n < 2 ? 1 : int(std::ceil(std::log2(double(n)))) + 1;
}

namespace {

// The q-quantile of the values, between neighbours; reorders them. Linear in their number, so a
// histogram of an hour of readings at the line's rate can choose its bins at every refresh.
double quantile(std::vector<double>& values, double q) {
    const double at = q * double(values.size() - 1);
    const auto below = size_t(std::floor(at));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(below), values.end());
    const double lo = values[below];
    const double hi = below + 1 < values.size()
                          ? *std::min_element(values.begin() + std::ptrdiff_t(below) + 1, values.end())
                          : lo;
    return lo + (hi - lo) * (at - double(below));
}

}  // namespace

int BenchHistogram::freedmanDiaconisBins(std::vector<double>& values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
                 values.end());
    if (values.size() < 2) return 0;
    const double iqr = quantile(values, 0.75) - quantile(values, 0.25);
    const double width = 2 * iqr / std::cbrt(double(values.size()));
    if (!(width > 0)) return 0;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double bins = std::ceil((*hi - *lo) / width);
    return int(std::min(bins, double(kMaxBins)));
}

int BenchHistogram::autoBins(std::vector<double>& values) {
    const int fd = freedmanDiaconisBins(values);
    const int bins = fd > 0 ? fd : sturgesBins(values.size());
    return std::clamp(bins, 1, kMaxBins);
}

HistogramBins BenchHistogram::count(const std::vector<double>& values, int bins) {
    HistogramBins h;
    bins = std::clamp(bins, 1, kMaxBins);
    double lo = INFINITY, hi = -INFINITY;
    for (const double v : values) {
        if (std::isnan(v)) continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    h.counts.assign(size_t(bins), 0);
    if (!(lo <= hi)) return h;
    // one value all along: a narrow band around it, the value in its middle bin
    const bool steady = !(hi > lo);
    const double span = steady ? std::max(std::abs(lo), 1.0) * 1e-3 : hi - lo;
    h.low = steady ? lo - span / 2 : lo;
    h.width = span / bins;
    for (const double v : values) {
        if (std::isnan(v)) continue;
        const double at = std::floor((v - h.low) / h.width);
        const int k = steady ? bins / 2 : at < 0 ? 0 : at >= bins ? bins - 1 : int(at);
        ++h.counts[size_t(k)];
        ++h.total;
    }
    return h;
}

std::vector<double> BenchHistogram::values(const ChannelHistory& history, uint64_t fromReading) {
    std::vector<double> out;
    const HistorySeries& readings = history.level(0);
    for (int64_t i = std::max(readings.begin(), int64_t(fromReading)); i < readings.end(); ++i) {
        if (!readings.isGap(i)) out.push_back(readings.value(i));
    }
    return out;
}
