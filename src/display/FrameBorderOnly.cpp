#include "FrameBorderOnly.h"

#include <QFrame>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// QFrame fills in its style option with a protected member; this names it publicly.
struct FrameOption : QFrame {
    using QFrame::initStyleOption;
};

}  // namespace

FrameBorderOnly::FrameBorderOnly(QFrame* frame) : QObject(frame) {
    frame->installEventFilter(this);
}

bool FrameBorderOnly::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Paint) return false;
    paint(static_cast<QFrame*>(watched), *static_cast<QPaintEvent*>(event));
    return true;
}

// The background under the region is filled before the paint event is sent: only the border's
// pixels within the region are laid on it, one rectangle at a time.
void FrameBorderOnly::paint(QFrame* frame, const QPaintEvent& event) {
    const QRect inside = frame->contentsRect();
    const QRegion reached = event.region().subtracted(inside);
    if (reached.isEmpty()) return;
    const QPixmap& picture = border(frame);
    const qreal ratio = picture.devicePixelRatio();
    QPainter p(frame);
    for (const QRect& r : reached) {
        p.drawPixmap(r, picture, QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio));
    }
}

const QPixmap& FrameBorderOnly::border(QFrame* frame) {
    const Look look{frame->size(),      frame->devicePixelRatioF(), frame->frameStyle(),
                    frame->lineWidth(), frame->midLineWidth(),      frame->palette().cacheKey(),
                    frame->isEnabled(), frame->isActiveWindow()};
    if (look == look_ && !border_.isNull()) return border_;
    look_ = look;
    const qreal ratio = frame->devicePixelRatioF();
    border_ = QPixmap(frame->size() * ratio);
    border_.setDevicePixelRatio(ratio);
    border_.fill(Qt::transparent);
    // drawn as the frame draws itself, on a transparent picture
    QStyleOptionFrame option;
    const auto init = &FrameOption::initStyleOption;
    (frame->*init)(&option);
    QPainter p(&border_);
    frame->style()->drawControl(QStyle::CE_ShapedFrame, &option, &p, frame);
    return border_;
}
