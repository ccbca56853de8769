#pragma once

#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QSize>
#include <map>

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
    // What the pictures depend on besides the position.
    struct Look {
        QSize size;
        qreal ratio = 0;
        int minimum = 0;
        int maximum = 0;
        int flags = 0;  // orientation, inverted, text, enabled, active window, direction
        qint64 palette = 0;
        QFont font;
        QStyle* style = nullptr;
        bool operator==(const Look& o) const {
            return size == o.size && ratio == o.ratio && minimum == o.minimum && maximum == o.maximum &&
                   flags == o.flags && palette == o.palette && font == o.font && style == o.style;
        }
    };

    Look lookNow() const;
    QPixmap draw() const;

    QProgressBar* bar_;
    Look look_;
    std::map<int, QPixmap> pictures_;
};
