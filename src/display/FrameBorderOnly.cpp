#include "FrameBorderOnly.h"

#include <QFrame>
#include <QPaintEvent>

FrameBorderOnly::FrameBorderOnly(QFrame* frame) : QObject(frame) {
    frame->installEventFilter(this);
}

bool FrameBorderOnly::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Paint) return false;
    const auto* frame = static_cast<QFrame*>(watched);
    // the background under the region is filled before the event is sent; the border is all that
    // the frame's own painting adds
    const QRect inside = frame->contentsRect();
    for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) {
        if (!inside.contains(r)) return false;
    }
    return true;
}
