#include "ChartGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace ChartGlyphs {

namespace {

constexpr int kSize = 16;

void triangle(QPainter& p, double tipX, double baseX) {
    p.drawPolygon(QPolygonF({QPointF(baseX, 3.5), QPointF(tipX, 8), QPointF(baseX, 12.5)}));
}

void draw(QPainter& p, Glyph glyph) {
    const QColor navy(0, 0, 128);
    p.setPen(QPen(navy, 1));
    p.setBrush(navy);
    switch (glyph) {
        case Glyph::New: {
            QPainterPath page;
            page.moveTo(3.5, 1.5);
            page.lineTo(9.5, 1.5);
            page.lineTo(12.5, 4.5);
            page.lineTo(12.5, 14.5);
            page.lineTo(3.5, 14.5);
            page.closeSubpath();
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            p.drawPath(page);
            p.drawLine(QPointF(9.5, 1.5), QPointF(9.5, 4.5));
            p.drawLine(QPointF(9.5, 4.5), QPointF(12.5, 4.5));
            break;
        }
        case Glyph::Save:
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(0, 128, 128));
            p.drawRect(QRectF(1.5, 1.5, 13, 13));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 1.5, 7, 5));
            p.setBrush(QColor(192, 192, 192));
            p.drawRect(QRectF(4.5, 9.5, 7, 5));
            break;
        case Glyph::First:
            p.drawRect(QRectF(3.5, 3.5, 1, 9));
            triangle(p, 5.5, 12.5);
            break;
        case Glyph::Previous:
            triangle(p, 4.5, 11.5);
            break;
        case Glyph::Next:
            triangle(p, 11.5, 4.5);
            break;
        case Glyph::Last:
            triangle(p, 10.5, 3.5);
            p.drawRect(QRectF(11.5, 3.5, 1, 9));
            break;
        case Glyph::Enlarge:
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(2.5, 2.5, 11, 11));
            p.fillRect(QRectF(2.5, 2.5, 11, 3), navy);
            break;
        case Glyph::Restore:
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(5.5, 2.5, 8, 7));
            p.fillRect(QRectF(5.5, 2.5, 8, 2), navy);
            p.setBrush(Qt::white);
            p.drawRect(QRectF(2.5, 6.5, 8, 7));
            p.fillRect(QRectF(2.5, 6.5, 8, 2), navy);
            break;
    }
}

}  // namespace

QIcon icon(Glyph glyph) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    draw(p, glyph);
    p.end();
    return QIcon(pixmap);
}

}  // namespace ChartGlyphs
