#pragma once

#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QSize>
#include <map>
#include <tuple>

class QProgressBar;
class QStyle;

// Paints a progress bar from pictures of it that the style drew once for each position. The style
// draws a bar's groove and fill as antialiased rounded rectangles with a gradient, which costs more
// than anything else a changing reading repaints; a bar has a few dozen positions, and their
// pictures are kept until the bar's size, range, look or state changes.
class BarPictures : public QObject {
public:
    // Paints `bar` from then on; the bar owns it.
    explicit BarPictures(QProgressBar* bar);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the pictures depend on besides the position: size, pixel ratio, range, flags
    // (orientation, inverted, text, enabled, active window, direction), palette, font and style.
    using Look = std::tuple<QSize, qreal, int, int, int, qint64, QFont, QStyle*>;

    Look lookNow() const;
    QPixmap draw() const;

    QProgressBar* bar_;
    Look look_;
    std::map<int, QPixmap> pictures_;
};
