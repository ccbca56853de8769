#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QString>

class QPainter;

// The LCD symbol font, drawn with QPainter. Each character is an outline built from segment
// shapes in a cell one "em" high (the glyph height in pixels) and scaled on drawing, so the
// same shapes serve every height from the 12-px MIN/MAX captions to the 100-px digits.
//
// Character code (what the decoders write into captions and unit texts):
//   "0".."9" seven-segment digits    "@" seven-segment L        "-" minus
//   "*" ohm    "#" degrees Celsius    "?" degrees Fahrenheit     "&" continuity beeper
//   ")" diode  "+" micro              '"' HOLD                   "!" record mark
//   "$" low battery    "(" bar mark   "%" and letters in LCD style
//   "/" "," "<" ">" the numbers 1..4 (the port indicators read "COM 1".."COM 4")
// Text is drawn literally: no accelerator or escape processing. A character without a glyph
// takes the place of a digit and draws nothing.
class LcdGlyphs {
public:
    // Line height of a caption, in em: the cell that every glyph is drawn in.
    static constexpr qreal kLineHeight = 1.12;

    static bool hasGlyph(QChar c);

    // Horizontal advance of one character and of a whole text, in pixels.
    static qreal advance(QChar c, qreal height);
    static qreal textWidth(const QString& text, qreal height);
    static int lineHeight(qreal height);

    // Outline of `text` with its top-left corner at the origin, scaled to `height` pixels.
    static QPainterPath textPath(const QString& text, qreal height, bool bold, bool italic = false);

    // A unit text as the LCD shows it: the decoders write the micro prefix as "u" ("uF", "uA"),
    // which in this font would be the letter u, so it becomes the micro sign.
    static QString unitText(const QString& unit);

    // Fills the text's outline in `color`, top-left of the first cell at `topLeft`.
    static void drawText(QPainter& painter, const QPointF& topLeft, const QString& text, qreal height,
                         bool bold, bool italic, const QColor& color);

private:
    // Outline of one character in em units, cached per (character, bold).
    static const QPainterPath& unitGlyph(QChar c, bool bold);
};
