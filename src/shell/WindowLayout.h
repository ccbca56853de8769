#pragma once

#include <QRect>
#include <QSize>
#include <cstdint>

// Where the chart was before it was enlarged; all 0 until the first enlargement.
struct ChartSavedGeometry {
    int32_t ChartSavedWidth = 0;
    int32_t ChartSavedHeight = 0;
    int32_t ChartSavedTop = 0;
    int32_t ChartSavedLeft = 0;
};

// The controls that follow the window's size, as the form places them.
struct WindowLayout {
    QRect KD{290, 31, 318, 137};        // panel of the analog scale
    QRect KD2{294, 39, 316, 132};       // scale picture
    QRect Chtshow{292, 173, 320, 233};  // trend chart
    QRect DBGrid1{3, 255, 284, 150};    // grid of recorded readings
    int BTConLeft = 432;
    int BtDisconLeft = 432;
    int BtExitLeft = 544;
    bool TbFdVisible = true;   // "Graphic Enlarge"
    bool TbSxVisible = false;  // "Graphic Restore"; shown exactly while the chart is enlarged
    ChartSavedGeometry saved;
};

// The layout rules work on the window's outer size W x H, caption, menu bar and borders included,
// as the form was drawn for: 4 px borders, a 19 px caption and a 19 px menu bar. The window
// applies them through that nominal frame (outerSize), so its layout does not depend on the
// decorations of the desktop it runs on.
namespace WindowLayoutRules {

constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 46;

// the client area of 615 x 409 the form stores is an outer size of 623 x 455
inline QSize outerSize(QSize client) {
    return {client.width() + kFrameWidth, client.height() + kFrameHeight};
}

// The smallest client area that keeps every control whole and usable. Width: the chart's
// toolbar ends with the enlarge button at 288 + 25 inside a 1-pixel frame, so the chart needs
// 315 pixels, W - 302, which leaves the top-right buttons clear of the port indicator and the
// scale wide enough for its labels. Height: the grid shows its titles and four rows (18 + 4 x 17
// plus its frames, 92 pixels, H - 311), which gives the scale a face of 117 pixels and the
// chart 193, room for its toolbar and a plot below it.
constexpr QSize kMinimumClientSize{609, 357};

// `FormResize`: ends an enlargement, then places buttons, grid, scale and chart for W x H. Only a
// chart that was enlarged gets its saved place back: a low window, whose chart top lies near the
// top edge, keeps the chart where it is.
void FormResize(WindowLayout& layout, QSize outer);
// `TbFdClick`, the click of both `TbFd` and `TbSx`: enlarges the chart in place or puts the
// enlarged one back.
void TbFdClick(WindowLayout& layout, QSize outer);

// nearest integer to a single-precision product, halves to the even neighbour
int roundProduct(float factor, float h);

}  // namespace WindowLayoutRules
