#include "LcdLabel.h"

#include <QHash>
#include <QImage>
#include <QPainter>
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

const QImage& drawnCaption(const DrawnCaption& key) {
    static QHash<DrawnCaption, QImage> drawn;
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
    return *drawn.insert(key, image);
}

}  // namespace

void LcdLabel::paintEvent(QPaintEvent*) {
    if (text().isEmpty()) return;
    QPainter p(this);
    const QImage& caption =
        drawnCaption({shownText(), size(), devicePixelRatioF(), glyphHeight_, bold_, italic_, color_.rgba()});
    p.drawImage(QPointF(0, 0), caption);
}
