#include "ScaleGeometry.h"

#include <algorithm>
#include <cmath>

#include "MeterState.h"

ScaleInputs ScaleInputs::from(const MeterState& meter, const ControlStates& controls, QSize panelSize,
                              QSize imageSize) {
    ScaleInputs in;
    in.panelSize = panelSize;
    in.imageSize = imageSize;
    in.FreqMode = meter.FreqMode != 0;
    in.ScaleDigits = meter.ScaleDigits;
    in.FullScale = meter.FullScale;
    in.BarSegments = meter.BarSegments;
    in.MaxLimit = meter.MaxLimit;
    in.MinLimit = meter.MinLimit;
    in.SetMaxB = controls.SetMaxB;
    in.SetMinB = controls.SetMinB;
    return in;
}

namespace ScaleGeometry {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The sweep is converted to degrees with this short value of pi; every layout on the face
// (label offsets, the upright zero) is tuned to the angles it gives.
constexpr double kSweepPi = 3.1415;
// Extra pixels beside the ends of a 120-degree arc, for its end labels.
constexpr int kSteepEndRoom = 6;
// Pointer coordinates are kept within this many pixels of the origin.
constexpr double kCoordLimit = 32768.0;

// Nearest integer, halves to the even neighbour (the default floating-point rounding mode).
int roundEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

// Cuts the segment (x1,y1)-(x2,y2) to the square of +-kCoordLimit; false when nothing is left.
bool clipToLimit(double& x1, double& y1, double& x2, double& y2) {
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 + kCoordLimit, kCoordLimit - x1, y1 + kCoordLimit, kCoordLimit - y1};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0) {
            if (q[k] < 0.0) return false;
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0.0) {
            if (t > t1) return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return false;
            t1 = std::min(t1, t);
        }
    }
    const double ax = x1 + t0 * dx, ay = y1 + t0 * dy;
    x2 = x1 + t1 * dx;
    y2 = y1 + t1 * dy;
    x1 = ax;
    y1 = ay;
    return true;
}

const std::vector<ScaleLabel> kFrequencyLabels = {
    {0, "-50", 5, 7},  {10, "-40", 8, 6}, {20, "-30", 10, 5},  {30, "-20", 10, 4},
    {40, "-10", 5, 4}, {50, "0", 3, 3},   {60, "10", 8, 5},    {70, "20", 8, 5},
    {80, "30", 9, 4},  {90, "40", 12, 9}, {100, "50", 14, 11},
};
const std::vector<ScaleLabel> k4000Labels = {
    {0, "-40", 5, 7}, {10, "-30", 8, 6}, {20, "-20", 10, 5}, {30, "-10", 10, 4}, {40, "0", 3, 4},
    {50, "10", 5, 5}, {60, "20", 8, 5},  {70, "30", 10, 6},  {80, "40", 11, 7},
};
const std::vector<ScaleLabel> k6000Labels = {
    {0, "-60", 5, 7}, {15, "-45", 8, 6}, {30, "-30", 10, 5}, {45, "-15", 10, 4}, {60, "0", 3, 4},
    {75, "15", 5, 5}, {90, "30", 8, 5},  {105, "45", 10, 6}, {120, "60", 11, 7},
};
const std::vector<ScaleLabel> k3400Labels = {
    {4, "-30", 8, 6}, {14, "-20", 10, 5}, {24, "-10", 10, 4}, {34, "0", 3, 4},
    {44, "10", 5, 5}, {54, "20", 8, 5},   {64, "30", 10, 6},
};
const std::vector<ScaleLabel> kNoLabels;

}  // namespace

Face faceFor(QSize panel) {
    Face f;
    f.bottom = panel.height() - 4;
    f.W = static_cast<float>(panel.width() - 40);
    f.H = static_cast<float>(panel.height() - 60);
    // A higher arc would bring its ends down towards the pivot, until past a half circle the
    // scale turns round. The height of a 120-degree arc over the chord is W / 2 * tan(30°).
    const float tallest = static_cast<float>(f.W / 2 * std::tan(kPi / 6));
    const bool capped = f.H > tallest;
    if (capped) {
        // The whole face, 30 pixels of labels over the arc down to 10 pixels below the pivot,
        // must fit the panel's height: the radius of a 120-degree arc is W / sqrt(3), so a
        // panel too low for it gets a narrower arc, moved in by the same amount on both sides.
        // The steep ends put their labels further out than a flat arc's: they get a few pixels
        // more, so that they do not touch the panel's sides.
        const double widest = std::sqrt(3.0) * (panel.height() - 40);
        const int inset = std::max(kSteepEndRoom, static_cast<int>(std::ceil((f.W - widest) / 2)));
        f.left += inset;
        f.W -= static_cast<float>(2 * inset);
        f.H = static_cast<float>(f.W / 2 * std::tan(kPi / 6));
    }
    if (!f.valid()) return f;
    const double W = f.W, H = f.H;
    f.R = static_cast<float>((4 * H * H + W * W) / (8 * H));
    f.sweep = static_cast<float>(2 * std::atan2(W / 2, double(f.R) - H) * 180 / kSweepPi);
    f.start = (180 - f.sweep) / 2;
    // The block from the labels over the arc (30 pixels) to just below the pivot (10 pixels)
    // stands in the middle of the spare height.
    if (capped) f.top = std::max(30, static_cast<int>((panel.height() + 20 - double(f.R)) / 2));
    return f;
}

QPointF pivot(const Face& face) {
    return {double(face.W) / 2 + face.left, double(face.R) + face.top};
}

bool pivotShows(const Face& face) {
    return pivot(face).y() < face.bottom;
}

double angleAt(const Face& face, double v, int steps) {
    const double degrees = steps > 0 ? double(face.sweep) / steps * v + face.start : face.start;
    return degrees * kPi / 180;
}

QPoint pointAt(const Face& face, double phi, int extra) {
    const double W = face.W, R = face.R;
    return {roundEven(W / 2 - (R + extra) * std::cos(phi)) + face.left,
            roundEven(R - (R + extra) * std::sin(phi)) + face.top};
}

std::optional<PointerLine> pointerAt(const Face& face, double v, int steps) {
    if (!face.valid() || steps <= 0) return std::nullopt;
    const double W = face.W, H = face.H, R = face.R;
    const double phi = angleAt(face, v, steps);
    const double c = std::cos(phi), s = std::sin(phi);
    if (s == 0.0) return std::nullopt;  // the pointer lies level: no far end below the face

    double tipX = std::nearbyint(W / 2 - R * c) + face.left;
    double tipY = std::nearbyint(R - R * s + 4) + face.top;
    if (pivotShows(face)) {
        const QPointF centre = pivot(face);
        return PointerLine{{roundEven(tipX), roundEven(tipY)},
                           {roundEven(centre.x()), roundEven(centre.y())}};
    }
    // The far end lies at a fixed depth on the line through the arc point and the circle's
    // centre, below the picture.
    const double depth = std::max(H + 280, double(face.bottom) - face.top);
    double baseX = W / 2 - (R - depth) * c / s + face.left;
    double baseY = std::nearbyint(depth) + face.top;
    if (std::isfinite(baseX) && std::abs(baseX) <= kCoordLimit) {
        baseX = std::nearbyint(baseX);
    } else {
        // Nearly level: the far end runs off towards infinity along (c, s), on the side the
        // depth rule puts it; a point well past the limit keeps the same visible line.
        const double t = (depth - R + R * s) / (R * s);
        const double dir = t < 0 ? -1.0 : 1.0;
        baseX = tipX + dir * c * 4 * kCoordLimit;
        baseY = tipY + dir * s * 4 * kCoordLimit;
    }
    if (!clipToLimit(tipX, tipY, baseX, baseY)) return std::nullopt;
    return PointerLine{{roundEven(tipX), roundEven(tipY)}, {roundEven(baseX), roundEven(baseY)}};
}

PointerScale pointerScale(const ScaleInputs& in, int position) {
    if (in.FreqMode) return {double(position) + 100, 1000};
    return {double(position), in.BarSegments * 10};
}

int tickCount(const ScaleInputs& in) {
    return in.FreqMode ? 100 : in.BarSegments;
}

const std::vector<ScaleLabel>& labelsFor(const ScaleInputs& in) {
    if (in.FreqMode) return kFrequencyLabels;
    if (in.ScaleDigits == "4") return k4000Labels;
    if (in.ScaleDigits == "6") return k6000Labels;
    if (in.ScaleDigits == "34") return k3400Labels;
    return kNoLabels;
}

bool hasTickDot(const ScaleInputs& in, int tick) {
    if (in.FreqMode) return tick % 10 == 0;
    if (in.ScaleDigits == "6") return tick % 15 == 0;
    if (in.ScaleDigits == "4") return tick % 10 == 0;
    if (in.ScaleDigits == "34") return tick % 10 == 4;
    return false;
}

QRect labelBox(const Face& face, const ScaleLabel& label, int ticks, QSize textSize, QSize picture) {
    QPoint at = pointAt(face, angleAt(face, label.tick, ticks), kLabelRadius) - QPoint(label.dx, label.dy);
    at.setX(std::clamp(at.x(), 0, std::max(0, picture.width() - textSize.width())));
    at.setY(std::clamp(at.y(), 0, std::max(0, picture.height() - textSize.height())));
    return {at, textSize};
}

bool bandIsRed(const ScaleInputs& in, int j) {
    const double counts = (j - in.FullScale / 10.0) * 10;
    return (in.SetMaxB && counts > in.MaxLimit) || (in.SetMinB && counts < in.MinLimit);
}

}  // namespace ScaleGeometry
