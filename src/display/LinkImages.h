#pragma once

#include <QImage>
#include <QPixmap>

// The link indicator pictures of the scale panel, 25 x 24 pixels: a computer beside a
// multimeter, both screens lit green while frames arrive (CONok), dark when the link is lost
// (CONokN).
namespace LinkImages {

constexpr int kWidth = 25;
constexpr int kHeight = 24;

QImage image(bool linkAlive);
QPixmap pixmap(bool linkAlive);

}  // namespace LinkImages
