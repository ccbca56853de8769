#pragma once

#include <QImage>
#include <QPixmap>

// The link indicator pictures of the scale panel, 25 x 24 pixels: a computer beside a
// multimeter, both screens lit green while frames arrive (CONok), dark when the link is lost
// (CONokN).
namespace LinkImages {

constexpr int kWidth = 25;
constexpr int kHeight = 24;

// Drawn at `devicePixelRatio` times the pixels, so the pictures stay sharp on a scaled screen;
// at 1 they are exactly kWidth x kHeight.
QImage image(bool linkAlive, qreal devicePixelRatio = 1.0);
QPixmap pixmap(bool linkAlive, qreal devicePixelRatio = 1.0);

}  // namespace LinkImages
