#pragma once

#include <cstdint>
#include <vector>

#include "BenchStripScale.h"
#include "ChannelHistory.h"

// What the bench's XY plot and histogram show, worked out without a window.

// One channel against another: x from one, y from the other at the same moment.
struct XyPoint {
    double x;
    double y;
    int64_t timeMs;  // the y point's
};

namespace BenchXy {

// Pairs every point of `y` dated in [fromMs, toMs] with the last point of `x` at or before it,
// when both have a value and the x point is at most maxAgeMs older (or, a bucket, still covers
// that moment). Points are readings where the histories still hold them, bucket means before.
std::vector<XyPoint> pair(const ChannelHistory& x, const ChannelHistory& y, int64_t fromMs, int64_t toMs,
                          int64_t maxAgeMs);

}  // namespace BenchXy

// The stretch of values an XY plot shows on both axes, fitted to its points until the user zooms
// or pans, which it then keeps until it is fitted again.
class XyViewport {
public:
    // Fits both axes to the points, unless the user has moved the view.
    void follow(const std::vector<XyPoint>& points);
    void fitAgain() { manual_ = false; }
    bool manual() const { return manual_; }

    const BenchStripScale& x() const { return x_; }
    const BenchStripScale& y() const { return y_; }

    // Scales both spans by factor (below 1 zooms in) keeping the values (ax, ay) where they are.
    void zoom(double factor, double ax, double ay);
    // Moves the view by a share of its spans (positive: to larger values).
    void pan(double xShare, double yShare);

private:
    BenchStripScale x_;
    BenchStripScale y_;
    bool manual_ = false;
};

// A histogram: `counts[k]` values lie in [low + k * width, low + (k + 1) * width); the largest
// value counts in the last bin.
struct HistogramBins {
    double low = 0;
    double width = 1;
    std::vector<uint64_t> counts;
    uint64_t total = 0;

    double edge(int k) const { return low + k * width; }
};

namespace BenchHistogram {

constexpr int kMaxBins = 500;

// Sturges' number of bins for n values: log2(n) + 1, rounded up.
int sturgesBins(uint64_t n);
// The Freedman-Diaconis number of bins (a width of twice the interquartile range over the cube
// root of n) for the values; 0 when their quartiles are equal. Reorders the values.
int freedmanDiaconisBins(std::vector<double>& values);
// Freedman-Diaconis, or Sturges where it gives nothing, within 1 ... kMaxBins. Reorders the values.
int autoBins(std::vector<double>& values);

// Counts the values (NaN left out) in `bins` bins from the smallest to the largest.
HistogramBins count(const std::vector<double>& values, int bins);

// The readings of a channel from its `fromReading`-th on (counting every reading the history
// got, gaps included), as far back as the history still holds readings; gaps left out.
std::vector<double> values(const ChannelHistory& history, uint64_t fromReading);

}  // namespace BenchHistogram
