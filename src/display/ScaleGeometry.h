#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ControlStates;
struct MeterState;

// Everything the analog face reads: the size of the panel `KD` it is laid out in, the count range
// and the armed alarm limits.
struct ScaleInputs {
    QSize panelSize{318, 137};
    // Size of the picture when it is first created; empty means the panel's client area (the panel
    // less its 2-pixel bevel on each side).
    QSize imageSize;
    // Device pixels per logical pixel of the screen the face is shown on: the picture holds that
    // many times the pixels, with the same geometry in logical pixels.
    double devicePixelRatio = 1.0;
    bool FreqMode = false;
    std::string ScaleDigits = "4";
    int32_t FullScale = 4000;
    int32_t BarSegments = 80;
    float MaxLimit = 4002.0f;
    float MinLimit = -4002.0f;
    bool SetMaxB = false;
    bool SetMinB = false;

    static ScaleInputs from(const MeterState& meter, const ControlStates& controls, QSize panelSize,
                            QSize imageSize = {});
};

// The arc of the analog face and the positions on it. The arc spans the panel less a margin of
// 20 pixels left and right and 30 pixels top and bottom. On a wide panel the circle's centre, the
// pointer's pivot, lies below the panel. A panel that is square, taller than wide or only a little
// wider than high would give an arc of almost a half circle, with its ends level with the pivot
// and the end labels pushed into the band: there the arc keeps the sweep of 120 degrees, and the
// whole face, pivot included, stands in the middle of the panel, its chord shortened where the
// panel's height leaves too little room below the arc for the pivot.
namespace ScaleGeometry {

struct Face {
    float W = 0;      // chord: panel width - 40, less where a 120-degree arc must be narrower
    float H = 0;      // arc height: panel height - 60, at most the height of a 120-degree arc
    float R = 0;      // radius of the circle through both chord ends and the arc's top
    float sweep = 0;  // degrees from the left end of the arc to the right end
    float start = 0;  // degrees of the left end, measured from the left horizontal
    int left = 20;    // x of the arc's left end: 20, more for a shortened chord
    int top = 30;     // y of the arc's top
    int bottom = 0;   // the picture's height (the panel less its bevel)

    // A panel no higher than 60 pixels (or hardly wider than 40) leaves no arc to draw on.
    bool valid() const { return H > 0 && W > 0; }
};

Face faceFor(QSize panel);

// Angle in radians of position v on a scale of `steps` steps (0 at the left end, steps at the right).
double angleAt(const Face& face, double v, int steps);

// Point at angle phi, `extra` pixels outside the arc.
QPoint pointAt(const Face& face, double phi, int extra);

// The circle's centre, where the pointer turns.
QPointF pivot(const Face& face);
// True when the pivot lies inside the picture, and the pointer ends there.
bool pivotShows(const Face& face);

struct PointerLine {
    QPoint tip;   // on the arc, 4 pixels down
    QPoint base;  // far end, on the line through the circle's centre: the pivot when it shows,
                  // else a point below the picture, so the pointer runs to its lower edge
};

// The pointer at position v of `steps`; nothing when the angle leaves it without a far end.
// Far ends that would lie absurdly far away are pulled in along the pointer, so the visible part
// stays the same while the coordinates stay small.
std::optional<PointerLine> pointerAt(const Face& face, double v, int steps);

// Position on the pointer's scale for a `KDrun` argument: the frequency scale has 1000 steps and
// its zero is 100 steps left of the count scale's.
struct PointerScale {
    double v;
    int steps;
};
PointerScale pointerScale(const ScaleInputs& in, int position);

// Ticks of the face: 100 in frequency mode, else one per bar segment.
int tickCount(const ScaleInputs& in);

struct ScaleLabel {
    int tick;
    const char* text;
    int dx;  // the text's top-left corner lies dx left and dy above the label anchor
    int dy;
};
// Labels of the current scale, in hundreds of counts; empty for an unknown count range.
const std::vector<ScaleLabel>& labelsFor(const ScaleInputs& in);
bool hasTickDot(const ScaleInputs& in, int tick);

// Where a label of `textSize` is written: its top-left corner dx left and dy above the anchor
// `kLabelRadius` outside the arc, moved in just far enough to lie whole inside the picture of
// `picture` size (the ends of a wide, flat arc would put it past the edges).
constexpr int kLabelRadius = 18;
QRect labelBox(const Face& face, const ScaleLabel& label, int ticks, QSize textSize, QSize picture);

// Band point j of BarSegments * 10 stands for (j - FullScale / 10) * 10 counts; it is red beyond an
// armed limit.
bool bandIsRed(const ScaleInputs& in, int j);

}  // namespace ScaleGeometry
