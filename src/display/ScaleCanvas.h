#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <cstdint>
#include <vector>

#include "ScaleGeometry.h"

// The picture of the analog face: band, tick dots, labels and pointer, drawn on one image that is
// created at the panel's client size the first time it is drawn on and shown stretched afterwards.
// The picture has the screen's device pixel ratio: its geometry is in logical pixels, its pixels
// are the screen's, so a scaled screen shows the face at full resolution.
// `KDsetup` redraws the face from scratch (without pointer); `KDrun` wipes the last pointer in the
// panel colour and draws the new one.
class ScaleCanvas {
public:
    void KDsetup(const ScaleInputs& in);
    // Returns the part of the picture it changed, in logical pixels: the old pointer and the new.
    QRect KDrun(int position, const ScaleInputs& in);
    // The panel changed size: once drawn, the face is drawn anew at the new size, with the pointer
    // where it was if one was showing. A panel too small for a face keeps the picture it has.
    void resize(const ScaleInputs& in);

    // null until the first drawing
    const QImage& image() const { return picture_; }
    static QFont labelFont();
    // where the labels of the last `KDsetup` were written, left to right
    const std::vector<QRect>& labelBoxes() const { return labelBoxes_; }

    // The pointer last drawn, kept so that the next `KDrun` can wipe it. All 0 before the first
    // `KDrun`, whose wipe then touches only the corner pixel.
    int32_t PointerTipX = 0;
    int32_t PointerTipY = 0;
    int32_t PointerBaseX = 0;
    int32_t PointerBaseY = 0;

private:
    static QSize pictureSize(const ScaleInputs& in);
    bool ensurePicture(const ScaleInputs& in);
    void createPicture(QSize logicalSize, double ratio);

    QImage picture_;
    std::vector<QRect> labelBoxes_;
    int lastPosition_ = 0;
    bool pointerShown_ = false;
};
