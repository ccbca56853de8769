#pragma once

#include <QAbstractButton>

// A port indicator: a blue panel button whose caption is drawn bold italic in yellow in the LCD
// symbol font ("COM /" shows as COM 1). Raised bevel, sunken while pressed, caption dimmed
// when disabled.
class LcdButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(int glyphHeight READ glyphHeight WRITE setGlyphHeight)

public:
    explicit LcdButton(QWidget* parent = nullptr);

    int glyphHeight() const { return glyphHeight_; }
    void setGlyphHeight(int pixels);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int glyphHeight_ = 18;
};
