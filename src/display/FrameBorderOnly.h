#pragma once

#include <QObject>

class QFrame;

// A frame draws nothing but its border, yet a repaint of a transparent child inside it (an LCD
// digit, say) sends the frame a paint event as well, and its border is then drawn again under a
// clip that leaves none of it: the lines are walked against every rectangle of the clip. This
// passes a frame's paint event on only when the repainted region reaches the border.
class FrameBorderOnly : public QObject {
public:
    // Filters `frame`'s paint events from then on; the frame owns it.
    explicit FrameBorderOnly(QFrame* frame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
