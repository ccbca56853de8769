#include "LcdButton.h"

#include <QPainter>
#include <QPen>
#include <cmath>

#include "LcdGlyphs.h"

namespace {
constexpr int kBevel = 2;
const QColor kFace(0, 0, 255);
const QColor kInk(255, 255, 0);
const QColor kInkDisabled(128, 128, 128);
}  // namespace

LcdButton::LcdButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::TabFocus);
}

void LcdButton::setGlyphHeight(int pixels) {
    if (pixels == glyphHeight_ || pixels <= 0) return;
    glyphHeight_ = pixels;
    updateGeometry();
    update();
}

QSize LcdButton::sizeHint() const {
    const int w = static_cast<int>(std::ceil(LcdGlyphs::textWidth(text(), glyphHeight_)));
    return QSize(w + 4 * kBevel + 8, LcdGlyphs::lineHeight(glyphHeight_) + 2 * kBevel);
}

void LcdButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, kFace);

    // bevel: light on the top and left edges when raised, on the bottom and right when pressed
    const bool sunken = isDown() || isChecked();
    const QColor light = kFace.lighter(170), dark = kFace.darker(220);
    const QColor topLeft = sunken ? dark : light, bottomRight = sunken ? light : dark;
    for (int i = 0; i < kBevel; ++i) {
        p.setPen(topLeft);
        p.drawLine(r.left() + i, r.top() + i, r.right() - i, r.top() + i);
        p.drawLine(r.left() + i, r.top() + i, r.left() + i, r.bottom() - i);
        p.setPen(bottomRight);
        p.drawLine(r.left() + i, r.bottom() - i, r.right() - i, r.bottom() - i);
        p.drawLine(r.right() - i, r.top() + i, r.right() - i, r.bottom() - i);
    }

    const qreal w = LcdGlyphs::textWidth(text(), glyphHeight_);
    const qreal h = LcdGlyphs::lineHeight(glyphHeight_);
    QPointF at((r.width() - w) / 2, (r.height() - h) / 2);
    if (sunken) at += QPointF(1, 1);
    LcdGlyphs::drawText(p, at, text(), glyphHeight_, true, true, isEnabled() ? kInk : kInkDisabled);

    if (hasFocus()) {
        p.setPen(QPen(kInk, 1, Qt::DotLine));
        p.drawRect(r.adjusted(kBevel + 1, kBevel + 1, -kBevel - 2, -kBevel - 2));
    }
}
