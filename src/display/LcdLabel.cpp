#include "LcdLabel.h"

#include "LcdGlyphs.h"

#include <QPainter>

#include <cmath>

// Transparent unless the form turns on autoFillBackground: the panel colour shows through.
LcdLabel::LcdLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

void LcdLabel::setGlyphHeight(int pixels) {
    if (pixels == glyphHeight_ || pixels <= 0) return;
    glyphHeight_ = pixels;
    updateGeometry();
    update();
}

void LcdLabel::setBold(bool on) {
    if (on == bold_) return;
    bold_ = on;
    update();
}

void LcdLabel::setItalic(bool on) {
    if (on == italic_) return;
    italic_ = on;
    update();
}

void LcdLabel::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

void LcdLabel::setUnitText(bool on) {
    if (on == unitText_) return;
    unitText_ = on;
    updateGeometry();
    update();
}

QString LcdLabel::shownText() const { return unitText_ ? LcdGlyphs::unitText(text()) : text(); }

QSize LcdLabel::sizeHint() const {
    return QSize(static_cast<int>(std::ceil(LcdGlyphs::textWidth(shownText(), glyphHeight_))),
                 LcdGlyphs::lineHeight(glyphHeight_));
}

void LcdLabel::paintEvent(QPaintEvent*) {
    if (text().isEmpty()) return;
    QPainter p(this);
    LcdGlyphs::drawText(p, QPointF(0, 0), shownText(), glyphHeight_, bold_, italic_, color_);
}
