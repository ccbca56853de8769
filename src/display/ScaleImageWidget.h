#pragma once

#include <QImage>
#include <QWidget>

// Shows a picture stretched to the widget's whole area (the analog face inside its panel).
class ScaleImageWidget : public QWidget {
    Q_OBJECT

public:
    explicit ScaleImageWidget(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};
