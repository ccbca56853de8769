#include "ScaleCanvas.h"

#include <QFont>
#include <QPainter>
#include <QPen>
#include <QtMath>
#include <algorithm>

namespace {

// Colours of the face; the panel behind the picture is white, so white also wipes.
const QColor kPanelColour = Qt::white;
const QColor kTickColour = Qt::red;
const QColor kBandColour = Qt::blue;
const QColor kAlarmBandColour = Qt::red;
const QColor kPointerColour = Qt::black;

// Pixels outside the arc of the tick dots, the label anchors and the band.
constexpr int kTickRadius = 6;
constexpr int kBandRadius = 3;

}  // namespace

// A small plain face with narrow digits, so that the labels at the ends of the arc fit the
// picture; crisp like the rest of the face.
QFont ScaleCanvas::labelFont() {
    QFont font;
    font.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(11);
    return font;
}

namespace {

// A dot is the 2 x 2 box at `at` outlined with a pen of `penWidth`: a solid disc of diameter
// 2 + penWidth around the box's centre.
void drawDot(QPainter& p, QPoint at, const QColor& colour, int penWidth) {
    const double radius = 1 + penWidth / 2.0;
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(at.x() + 1, at.y() + 1), radius, radius);
}

// The label's text on an opaque white cell, kept whole inside the picture; returns its box.
QRect drawLabel(QPainter& p, const ScaleGeometry::Face& face, const ScaleGeometry::ScaleLabel& label,
                int ticks, QSize picture) {
    const QString s = QString::fromLatin1(label.text);
    const QRect box =
        ScaleGeometry::labelBox(face, label, ticks, p.fontMetrics().size(Qt::TextSingleLine, s), picture);
    p.setPen(Qt::black);
    p.drawText(QRect(box.topLeft(), QSize(200, 100)), Qt::AlignLeft | Qt::AlignTop, s);
    return box;
}

}  // namespace

QSize ScaleCanvas::pictureSize(const ScaleInputs& in) {
    return in.imageSize.isEmpty() ? in.panelSize - QSize(4, 4) : in.imageSize;
}

bool ScaleCanvas::ensurePicture(const ScaleInputs& in) {
    if (!picture_.isNull()) return true;
    const QSize size = pictureSize(in);
    if (size.isEmpty()) return false;
    createPicture(size, in.devicePixelRatio);
    return true;
}

void ScaleCanvas::createPicture(QSize logicalSize, double ratio) {
    ratio = ratio > 1.0 ? ratio : 1.0;
    // All drawing is in logical pixels; the painter scales it to the picture's pixels.
    const int width = qCeil(logicalSize.width() * ratio);
    const int height = qCeil(logicalSize.height() * ratio);
    picture_ = QImage(width, height, QImage::Format_RGB32);
    picture_.setDevicePixelRatio(ratio);
    picture_.fill(kPanelColour);
}

void ScaleCanvas::KDsetup(const ScaleInputs& in) {
    using namespace ScaleGeometry;
    const Face face = faceFor(in.panelSize);
    if (!face.valid() || !ensurePicture(in)) return;
    // On a screen of another pixel ratio the face is drawn anew anyway: take a picture of the
    // same logical size at the new ratio.
    const double ratio = in.devicePixelRatio > 1.0 ? in.devicePixelRatio : 1.0;
    if (picture_.devicePixelRatio() != ratio) createPicture(picture_.deviceIndependentSize().toSize(), ratio);

    pointerShown_ = false;
    QPainter p(&picture_);
    p.fillRect(picture_.rect(), kPanelColour);
    p.setBackground(kPanelColour);
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setFont(labelFont());

    const int ticks = tickCount(in);
    const std::vector<ScaleLabel>& labels = labelsFor(in);
    auto label = labels.begin();
    labelBoxes_.clear();
    for (int i = 0; ticks > 0 && i <= ticks; ++i) {
        const double phi = angleAt(face, i, ticks);
        if (label != labels.end() && label->tick == i) {
            labelBoxes_.push_back(
                drawLabel(p, face, *label, ticks, picture_.deviceIndependentSize().toSize()));
            ++label;
        }
        if (hasTickDot(in, i)) drawDot(p, pointAt(face, phi, kTickRadius), kTickColour, 2);
    }

    // The band follows the count range even on the frequency scale.
    const int steps = in.BarSegments * 10;
    for (int j = 0; steps > 0 && j <= steps; ++j) {
        const QColor& colour = bandIsRed(in, j) ? kAlarmBandColour : kBandColour;
        drawDot(p, pointAt(face, angleAt(face, j, steps), kBandRadius), colour, 4);
    }
}

QRect ScaleCanvas::KDrun(int position, const ScaleInputs& in) {
    using namespace ScaleGeometry;
    const Face face = faceFor(in.panelSize);
    const PointerScale scale = pointerScale(in, position);
    const std::optional<PointerLine> line = pointerAt(face, scale.v, scale.steps);
    if (!line || !ensurePicture(in)) return {};
    // the lines' boxes, widened by the pen
    const auto box = [](QPoint a, QPoint b) { return QRect(a, b).normalized().adjusted(-2, -2, 2, 2); };
    const QRect wiped = box({PointerTipX, PointerTipY}, {PointerBaseX, PointerBaseY});

    QPainter p(&picture_);
    QPen pen(kPanelColour, 2);
    p.setPen(pen);
    p.drawLine(PointerTipX, PointerTipY, PointerBaseX, PointerBaseY);

    PointerTipX = line->tip.x();
    PointerTipY = line->tip.y();
    PointerBaseX = line->base.x();
    PointerBaseY = line->base.y();

    pen.setColor(kPointerColour);
    p.setPen(pen);
    p.drawLine(line->tip, line->base);
    lastPosition_ = position;
    pointerShown_ = true;
    return wiped | box(line->tip, line->base);
}

void ScaleCanvas::resize(const ScaleInputs& in) {
    const QSize size = pictureSize(in);
    if (picture_.isNull() || size == picture_.deviceIndependentSize().toSize()) return;
    if (size.isEmpty() || !ScaleGeometry::faceFor(in.panelSize).valid()) return;
    const bool withPointer = pointerShown_;
    createPicture(size, in.devicePixelRatio);
    // the old pointer lies on the old picture: nothing to wipe on the new one
    PointerTipX = PointerTipY = PointerBaseX = PointerBaseY = 0;
    KDsetup(in);
    if (withPointer) KDrun(lastPosition_, in);
}
