#include "LinkImages.h"

#include <QPainter>
#include <QtMath>

namespace LinkImages {

QImage image(bool linkAlive, qreal devicePixelRatio) {
    const qreal ratio = devicePixelRatio > 1.0 ? devicePixelRatio : 1.0;
    QImage img(qCeil(kWidth * ratio), qCeil(kHeight * ratio), QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(ratio);
    img.fill(Qt::transparent);
    QPainter p(&img);
    const QColor outline(40, 40, 40);
    const QColor screen = linkAlive ? QColor(0, 230, 0) : QColor(25, 45, 25);
    const QColor glare = linkAlive ? QColor(170, 255, 170) : QColor(45, 65, 45);

    // computer: monitor on a stand, keyboard in front
    p.setPen(outline);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(0, 3, 12, 10);
    p.fillRect(2, 5, 9, 7, screen);
    p.fillRect(3, 6, 3, 1, glare);
    p.fillRect(5, 14, 3, 2, QColor(120, 120, 120));
    p.drawRect(1, 16, 11, 3);
    for (int x = 3; x < 12; x += 2) p.fillRect(x, 18, 1, 1, QColor(90, 90, 90));

    // the serial cable between them
    p.setPen(QColor(30, 30, 160));
    p.drawLine(12, 19, 15, 19);

    // multimeter: body, display, rotary switch, two jacks
    p.setPen(outline);
    p.setBrush(QColor(250, 190, 20));
    p.drawRoundedRect(QRectF(15, 1, 9, 22), 1.5, 1.5);
    p.fillRect(17, 3, 6, 5, screen);
    p.fillRect(18, 4, 2, 1, glare);
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(QRectF(17.5, 10, 5, 5));
    p.fillRect(17, 18, 2, 2, Qt::black);
    p.fillRect(21, 18, 2, 2, QColor(200, 0, 0));
    return img;
}

QPixmap pixmap(bool linkAlive, qreal devicePixelRatio) {
    return QPixmap::fromImage(image(linkAlive, devicePixelRatio));
}

}  // namespace LinkImages
