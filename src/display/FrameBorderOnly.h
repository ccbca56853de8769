#pragma once

#include <QObject>
#include <QPixmap>
#include <QSize>
#include <tuple>

class QFrame;
class QPaintEvent;

// A frame draws nothing but its border, yet a repaint of a transparent child sends the frame a paint
// event as well, and the style then draws the whole border again under the repainted region's clip,
// walking its lines against every rectangle of that clip. This passes on no paint event that stays
// inside the border, and paints the rest from a picture of the border, drawn once as the frame draws
// it and kept until the frame's size, look or state changes.
class FrameBorderOnly : public QObject {
public:
    // Paints `frame` from then on; the frame owns it.
    explicit FrameBorderOnly(QFrame* frame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the picture depends on: size, pixel ratio, frame style, line widths, palette, enabled,
    // active window.
    using Look = std::tuple<QSize, qreal, int, int, int, qint64, bool, bool>;

    void paint(QFrame* frame, const QPaintEvent& event);
    const QPixmap& border(QFrame* frame);

    Look look_;
    QPixmap border_;
};
