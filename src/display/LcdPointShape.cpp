#include "LcdPointShape.h"

#include <QPainter>

void LcdPointShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}
