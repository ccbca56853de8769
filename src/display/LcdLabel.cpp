#include "LcdLabel.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "LcdGlyphs.h"

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

QString LcdLabel::shownText() const {
    return unitText_ ? LcdGlyphs::unitText(text()) : text();
}

QSize LcdLabel::sizeHint() const {
    return QSize(static_cast<int>(std::ceil(LcdGlyphs::textWidth(shownText(), glyphHeight_))),
                 LcdGlyphs::lineHeight(glyphHeight_));
}

namespace {

// The captions of a live reading come back again and again (ten digits, a few units and signs):
// each is drawn from the glyph outlines once, into a picture of the label's size, and the picture
// is what a repaint draws.
struct DrawnCaption {
    QString text;
    QSize size;
    qreal ratio;
    int height;
    bool bold;
    bool italic;
    QRgb color;
    bool operator==(const DrawnCaption& o) const {
        return text == o.text && size == o.size && ratio == o.ratio && height == o.height && bold == o.bold &&
               italic == o.italic && color == o.color;
    }
};

size_t qHash(const DrawnCaption& k, size_t seed = 0) {
    return qHashMulti(seed, k.text, k.size.width(), k.size.height(), k.height, k.color, k.bold, k.italic);
}

constexpr int kDrawnCaptions = 256;

struct Drawn {
    QImage image;
    QRect ink;  // in the label's pixels: where the picture is not transparent
};

QRect inkOf(const QImage& image) {
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0) return QRect();
    const qreal ratio = image.devicePixelRatio();
    return QRectF(left / ratio, top / ratio, (right - left + 1) / ratio, (bottom - top + 1) / ratio)
        .toAlignedRect();
}

const Drawn& drawnCaption(const DrawnCaption& key) {
    static QHash<DrawnCaption, Drawn> drawn;
    auto it = drawn.constFind(key);
    if (it != drawn.constEnd()) return *it;
    if (drawn.size() >= kDrawnCaptions) drawn.clear();
    QImage image((QSizeF(key.size) * key.ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(key.ratio);
    image.fill(Qt::transparent);
    QPainter p(&image);
    LcdGlyphs::drawText(p, QPointF(0, 0), key.text, key.height, key.bold, key.italic,
                        QColor::fromRgba(key.color));
    p.end();
    const QRect ink = inkOf(image);
    return *drawn.insert(key, Drawn{image, ink});
}

DrawnCaption keyFor(const LcdLabel& label, const QString& shown) {
    return {shown,        label.size(),   label.devicePixelRatioF(), label.glyphHeight(),
            label.bold(), label.italic(), label.color().rgba()};
}

}  // namespace

QRect LcdLabel::ink() const {
    return text().isEmpty() ? QRect() : drawnCaption(keyFor(*this, shownText())).ink;
}

// A digit's caption covers part of its label only (the form makes the digits' labels taller than
// their glyphs, and the labels above the digits overlap them): a new caption repaints where the
// old one or the new one has ink, so what lies over or under the rest of the label is left as it
// is.
void LcdLabel::setCaption(QLabel* label, const QString& text) {
    auto* lcd = qobject_cast<LcdLabel*>(label);
    if (!lcd || !lcd->isVisible() || !lcd->updatesEnabled()) {
        label->setText(text);
        return;
    }
    if (lcd->text() == text) return;
    const QRect before = lcd->ink();
    // the label's own repaint of its whole area is left out
    lcd->setAttribute(Qt::WA_UpdatesDisabled, true);
    lcd->setText(text);
    lcd->setAttribute(Qt::WA_UpdatesDisabled, false);
    lcd->update(before.united(lcd->ink()));
}

void LcdLabel::paintEvent(QPaintEvent*) {
    if (text().isEmpty()) return;
    QPainter p(this);
    p.drawImage(QPointF(0, 0), drawnCaption(keyFor(*this, shownText())).image);
}
