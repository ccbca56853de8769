#pragma once

#include <QImage>
#include <QWidget>

// Shows a picture stretched to the widget's whole area (the analog face inside its panel).
class ScaleImageWidget : public QWidget {
    Q_OBJECT

public:
    explicit ScaleImageWidget(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    // The same picture with `changed` (in the picture's logical pixels) drawn anew: only that part
    // is painted again.
    void setImage(const QImage& image, const QRect& changed);
    // Lets go of the picture until the next setImage, without repainting: a picture shared with
    // this widget would be copied whole by the next painter opened on it.
    void releaseImage() { image_ = QImage(); }
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};
