#include "ScaleImageWidget.h"

#include <QPainter>

ScaleImageWidget::ScaleImageWidget(QWidget* parent) : QWidget(parent) {}

void ScaleImageWidget::setImage(const QImage& image) {
    image_ = image;
    // an opaque picture covers the widget: what lies under it need not be drawn first
    setAttribute(Qt::WA_OpaquePaintEvent, !image_.isNull() && !image_.hasAlphaChannel());
    update();
}

void ScaleImageWidget::setImage(const QImage& image, const QRect& changed) {
    // a picture shown stretched is painted whole
    if (image.deviceIndependentSize().toSize() != size()) {
        setImage(image);
        return;
    }
    image_ = image;
    setAttribute(Qt::WA_OpaquePaintEvent, !image_.isNull() && !image_.hasAlphaChannel());
    update(changed);
}

void ScaleImageWidget::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(rect(), image_);
}
