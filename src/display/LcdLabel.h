#pragma once

#include <QColor>
#include <QLabel>

// A caption in the LCD symbol font: a transparent label whose text is drawn with LcdGlyphs from
// its top-left corner, literally (an '&' is the beeper glyph, not an accelerator). Its size is
// set by the form and never follows the text, so an empty caption paints nothing and keeps
// its place. It is a QLabel so that code setting captions treats it like any other label.
class LcdLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(int glyphHeight READ glyphHeight WRITE setGlyphHeight)
    Q_PROPERTY(bool bold READ bold WRITE setBold)
    Q_PROPERTY(bool italic READ italic WRITE setItalic)
    Q_PROPERTY(QColor color READ color WRITE setColor)
    // The caption is a unit text (see LcdGlyphs::unitText), as beside the MIN/MAX values.
    Q_PROPERTY(bool unitText READ unitText WRITE setUnitText)

public:
    explicit LcdLabel(QWidget* parent = nullptr);

    int glyphHeight() const { return glyphHeight_; }
    void setGlyphHeight(int pixels);
    bool bold() const { return bold_; }
    void setBold(bool on);
    bool italic() const { return italic_; }
    void setItalic(bool on);
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    bool unitText() const { return unitText_; }
    void setUnitText(bool on);

    QSize sizeHint() const override;

    // Sets `label`'s caption; an LCD label that is shown repaints only where the old or the new
    // caption has ink, any other label as setText does.
    static void setCaption(QLabel* label, const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int glyphHeight_ = 24;
    bool bold_ = false;
    bool italic_ = false;
    QColor color_ = Qt::black;
    bool unitText_ = false;

    QString shownText() const;
    QRect ink() const;
};
