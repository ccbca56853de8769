#include "LcdGlyphs.h"

#include <QHash>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QTransform>
#include <initializer_list>

namespace {

// Vertical metrics of the cell, in em from its top: capitals and digits stand between the cap
// line and the baseline, lower-case letters start at the x-height.
constexpr qreal kCapTop = 0.18;
constexpr qreal kBaseline = 0.93;
constexpr qreal kXTop = 0.43;
constexpr qreal kMiddle = (kCapTop + kBaseline) / 2;

// The font leans a little like a meter's digits do: x shift per em above the baseline.
// Italic adds more lean to a whole caption.
constexpr qreal kSlant = 0.06;
constexpr qreal kItalicSlant = 0.12;
constexpr qreal kLean = kSlant * (kBaseline - kCapTop);

// Segment and stroke widths in em.
constexpr qreal kSegment = 0.10;
constexpr qreal kSegmentBold = 0.12;
constexpr qreal kStroke = 0.085;
constexpr qreal kStrokeBold = 0.115;

constexpr qreal kDigitAdvance = 0.38;
constexpr qreal kUnknownAdvance = kDigitAdvance;

// Seven-segment patterns, bit 0 = segment a (top) .. bit 6 = g (middle), clockwise from the top.
enum : unsigned { SegA = 1, SegB = 2, SegC = 4, SegD = 8, SegE = 16, SegF = 32, SegG = 64 };
constexpr unsigned kDigitSegments[10] = {
    SegA | SegB | SegC | SegD | SegE | SegF,
    SegB | SegC,
    SegA | SegB | SegD | SegE | SegG,
    SegA | SegB | SegC | SegD | SegG,
    SegB | SegC | SegF | SegG,
    SegA | SegC | SegD | SegF | SegG,
    SegA | SegC | SegD | SegE | SegF | SegG,
    SegA | SegB | SegC,
    SegA | SegB | SegC | SegD | SegE | SegF | SegG,
    SegA | SegB | SegC | SegD | SegF | SegG,
};
constexpr unsigned kLetterL = SegD | SegE | SegF;

// Which seven-segment pattern a character shows, if it is drawn as a digit.
int segmentPattern(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return static_cast<int>(kDigitSegments[u - '0']);
    switch (u) {
        case '@':
            return static_cast<int>(kLetterL);
        default:
            return -1;
    }
}

qreal letterAdvance(char16_t u) {
    switch (u) {
        case 'M':
        case 'W':
            return 0.83;
        case 'T':
            return 0.66;
        case 'A':
        case 'V':
            return 0.66;
        case 'F':
        case 'L':
        case 'J':
            return 0.62;
        case 'I':
            return 0.40;
        case 'P':
        case 'S':
            return 0.72;
        case 'm':
        case 'w':
            return 0.82;
        case 'k':
            return 0.51;
        case 'i':
        case 'l':
            return 0.30;
        case 'f':
        case 'j':
        case 'r':
        case 't':
            return 0.46;
        default:
            return (u >= 'a' && u <= 'z') ? 0.53 : 0.74;
    }
}

qreal symbolAdvance(char16_t u) {
    switch (u) {
        case '-':
            return 0.26;
        case ' ':
            return 0.28;
        case '.':
        case ':':
            return 0.20;
        case '%':
            return 0.86;
        case '"':
            return 0.54;
        case '!':
            return 0.59;
        case '$':
            return 0.34;
        case '(':
            return 0.31;
        case '/':
        case ',':
        case '<':
        case '>':
            return 0.62;
        case '#':
            return 0.75;
        case '?':
            return 0.71;
        case ')':
            return 1.06;
        case '&':
            return 0.78;
        case '*':
        case 0x03A9:
            return 0.65;
        case '+':
        case 0x00B5:
            return 0.50;
        default:
            return -1;
    }
}

qreal advanceEm(QChar c) {
    if (segmentPattern(c) >= 0) return kDigitAdvance;
    const char16_t u = c.unicode();
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')) return letterAdvance(u);
    const qreal a = symbolAdvance(u);
    return a > 0 ? a : kUnknownAdvance;
}

// Collects the pieces of one glyph in em units and unites them into a single outline.
class GlyphBuilder {
public:
    explicit GlyphBuilder(bool bold)
        : segment_(bold ? kSegmentBold : kSegment), stroke_(bold ? kStrokeBold : kStroke) {}

    qreal stroke() const { return stroke_; }

    // The box that line() maps its unit coordinates into: u from left to right, v from top
    // (0) to bottom (1); stroke centres are inset so the ink stays inside the box.
    void setBox(qreal left, qreal top, qreal right, qreal bottom) {
        box_ = QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    void capitalBox(qreal advance) { setBox(0.06, kCapTop, advance - 0.06 - kLean, kBaseline); }
    void smallBox(qreal advance) { setBox(0.06, kXTop, advance - 0.06 - kLean, kBaseline); }

    void line(std::initializer_list<QPointF> pts, bool closed = false) {
        const qreal h = stroke_ / 2;
        QPolygonF poly;
        for (const QPointF& p : pts) {
            poly << QPointF(box_.left() + h + p.x() * (box_.width() - stroke_),
                            box_.top() + h + p.y() * (box_.height() - stroke_));
        }
        if (closed) poly << poly.first();
        QPainterPath path;
        path.addPolygon(poly);
        strokePath(path, stroke_, closed);
    }

    // Horizontal and vertical segments with pointed ends, as on a seven-segment display.
    void hSegment(qreal y, qreal x0, qreal x1) {
        const qreal h = segment_ / 2, g = segment_ * 0.15;
        add(QPolygonF({{x0 + g, y},
                       {x0 + g + h, y - h},
                       {x1 - g - h, y - h},
                       {x1 - g, y},
                       {x1 - g - h, y + h},
                       {x0 + g + h, y + h}}));
    }
    void vSegment(qreal x, qreal y0, qreal y1) {
        const qreal h = segment_ / 2, g = segment_ * 0.15;
        add(QPolygonF({{x, y0 + g},
                       {x + h, y0 + g + h},
                       {x + h, y1 - g - h},
                       {x, y1 - g},
                       {x - h, y1 - g - h},
                       {x - h, y0 + g + h}}));
    }

    void sevenSegment(unsigned segs, qreal left, qreal right) {
        const qreal h = segment_ / 2;
        const qreal xl = left + h, xr = right - h;
        const qreal yt = kCapTop + h, ym = kMiddle, yb = kBaseline - h;
        if (segs & SegA) hSegment(yt, xl, xr);
        if (segs & SegB) vSegment(xr, yt, ym);
        if (segs & SegC) vSegment(xr, ym, yb);
        if (segs & SegD) hSegment(yb, xl, xr);
        if (segs & SegE) vSegment(xl, ym, yb);
        if (segs & SegF) vSegment(xl, yt, ym);
        if (segs & SegG) hSegment(ym, xl, xr);
    }

    void fillRect(qreal x0, qreal y0, qreal x1, qreal y1) {
        QPainterPath p;
        p.addRect(QRectF(QPointF(x0, y0), QPointF(x1, y1)));
        unite(p);
    }
    void add(const QPolygonF& poly) {
        QPainterPath p;
        p.addPolygon(poly);
        p.closeSubpath();
        unite(p);
    }
    void disc(QPointF centre, qreal r) {
        QPainterPath p;
        p.addEllipse(centre, r, r);
        unite(p);
    }
    void ring(QPointF centre, qreal rx, qreal ry, qreal width) {
        QPainterPath p;
        p.addEllipse(centre, rx, ry);
        strokePath(p, width, true);
    }
    // Arc of the ellipse around `centre`, angles in degrees counter-clockwise from 3 o'clock.
    void arc(QPointF centre, qreal rx, qreal ry, qreal start, qreal sweep, qreal width) {
        const QRectF r(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);
        QPainterPath p;
        p.arcMoveTo(r, start);
        p.arcTo(r, start, sweep);
        strokePath(p, width, false, Qt::FlatCap);
    }
    void polyline(std::initializer_list<QPointF> pts, qreal width) {
        QPainterPath p;
        p.addPolygon(QPolygonF(QVector<QPointF>(pts)));
        strokePath(p, width, false);
    }

    QPainterPath result() const { return path_; }

private:
    void strokePath(const QPainterPath& path, qreal width, bool closed, Qt::PenCapStyle cap = Qt::SquareCap) {
        QPainterPathStroker s;
        s.setWidth(width);
        s.setCapStyle(closed ? Qt::FlatCap : cap);
        s.setJoinStyle(Qt::MiterJoin);
        unite(s.createStroke(path));
    }
    void unite(const QPainterPath& p) { path_ = path_.isEmpty() ? p.simplified() : path_.united(p); }

    qreal segment_;
    qreal stroke_;
    QRectF box_;
    QPainterPath path_;
};

void buildCapital(GlyphBuilder& b, char16_t u) {
    b.capitalBox(letterAdvance(u));
    switch (u) {
        case 'A':
            b.line({{0, 1}, {0, 0}, {1, 0}, {1, 1}});
            b.line({{0, .5}, {1, .5}});
            break;
        case 'B':
            b.line({{0, 0}, {.75, 0}, {1, .18}, {1, .34}, {.8, .5}, {0, .5}});
            b.line({{.8, .5}, {1, .66}, {1, .82}, {.75, 1}, {0, 1}, {0, 0}});
            break;
        case 'C':
            b.line({{1, 0}, {0, 0}, {0, 1}, {1, 1}});
            break;
        case 'D':
            b.line({{0, 0}, {.7, 0}, {1, .28}, {1, .72}, {.7, 1}, {0, 1}}, true);
            break;
        case 'E':
            b.line({{1, 0}, {0, 0}, {0, 1}, {1, 1}});
            b.line({{0, .5}, {.75, .5}});
            break;
        case 'F':
            b.line({{1, 0}, {0, 0}, {0, 1}});
            b.line({{0, .5}, {.75, .5}});
            break;
        case 'G':
            b.line({{1, 0}, {0, 0}, {0, 1}, {1, 1}, {1, .55}, {.5, .55}});
            break;
        case 'H':
            b.line({{0, 0}, {0, 1}});
            b.line({{1, 0}, {1, 1}});
            b.line({{0, .5}, {1, .5}});
            break;
        case 'I':
            b.line({{.5, 0}, {.5, 1}});
            b.line({{0, 0}, {1, 0}});
            b.line({{0, 1}, {1, 1}});
            break;
        case 'J':
            b.line({{1, 0}, {1, 1}, {0, 1}, {0, .65}});
            break;
        case 'K':
            b.line({{0, 0}, {0, 1}});
            b.line({{0, .55}, {1, 0}});
            b.line({{.35, .36}, {1, 1}});
            break;
        case 'L':
            b.line({{0, 0}, {0, 1}, {1, 1}});
            break;
        case 'M':
            b.line({{0, 1}, {0, 0}, {.5, .5}, {1, 0}, {1, 1}});
            break;
        case 'N':
            b.line({{0, 1}, {0, 0}, {1, 1}, {1, 0}});
            break;
        case 'O':
            b.line({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, true);
            break;
        case 'P':
            b.line({{0, 1}, {0, 0}, {1, 0}, {1, .52}, {0, .52}});
            break;
        case 'Q':
            b.line({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, true);
            b.line({{.55, .6}, {1, 1}});
            break;
        case 'R':
            b.line({{0, 1}, {0, 0}, {1, 0}, {1, .52}, {0, .52}});
            b.line({{.45, .52}, {1, 1}});
            break;
        case 'S':
            b.line({{1, 0}, {0, 0}, {0, .5}, {1, .5}, {1, 1}, {0, 1}});
            break;
        case 'T':
            b.line({{0, 0}, {1, 0}});
            b.line({{.5, 0}, {.5, 1}});
            break;
        case 'U':
            b.line({{0, 0}, {0, 1}, {1, 1}, {1, 0}});
            break;
        case 'V':
            b.line({{0, 0}, {.5, 1}, {1, 0}});
            break;
        case 'W':
            b.line({{0, 0}, {0, 1}, {.5, .5}, {1, 1}, {1, 0}});
            break;
        case 'X':
            b.line({{0, 0}, {1, 1}});
            b.line({{1, 0}, {0, 1}});
            break;
        case 'Y':
            b.line({{0, 0}, {.5, .5}, {1, 0}});
            b.line({{.5, .5}, {.5, 1}});
            break;
        case 'Z':
            b.line({{0, 0}, {1, 0}, {0, 1}, {1, 1}});
            break;
        default:
            break;
    }
}

// Lower-case letters: v = 0 is the x-height, 1 the baseline, -0.6 the cap line, 1.3 the
// bottom of a descender.
void buildSmall(GlyphBuilder& b, char16_t u) {
    b.smallBox(letterAdvance(u));
    constexpr qreal up = -0.6, down = 1.3;
    switch (u) {
        case 'a':
            b.line({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, .5}, {1, .5}});
            break;
        case 'b':
            b.line({{0, up}, {0, 1}, {1, 1}, {1, 0}, {0, 0}});
            break;
        case 'c':
            b.line({{1, 0}, {0, 0}, {0, 1}, {1, 1}});
            break;
        case 'd':
            b.line({{1, up}, {1, 1}, {0, 1}, {0, 0}, {1, 0}});
            break;
        case 'e':
            b.line({{0, .5}, {1, .5}, {1, 0}, {0, 0}, {0, 1}, {1, 1}});
            break;
        case 'f':
            b.line({{1, up}, {.3, up}, {.3, 1}});
            b.line({{0, 0}, {.9, 0}});
            break;
        case 'g':
            b.line({{1, 1}, {0, 1}, {0, 0}, {1, 0}, {1, down}, {0, down}});
            break;
        case 'h':
            b.line({{0, up}, {0, 1}});
            b.line({{0, 0}, {1, 0}, {1, 1}});
            break;
        case 'i':
            b.line({{.5, 0}, {.5, 1}});
            b.line({{.5, -.45}, {.5, -.35}});
            break;
        case 'j':
            b.line({{.7, 0}, {.7, down}, {0, down}});
            b.line({{.7, -.45}, {.7, -.35}});
            break;
        case 'k':
            b.line({{0, up}, {0, 1}});
            b.line({{0, .55}, {1, 0}});
            b.line({{.35, .36}, {1, 1}});
            break;
        case 'l':
            b.line({{.5, up}, {.5, 1}});
            break;
        case 'm':
            b.line({{0, 1}, {0, 0}, {1, 0}, {1, 1}});
            b.line({{.5, 0}, {.5, 1}});
            break;
        case 'n':
            b.line({{0, 1}, {0, 0}, {1, 0}, {1, 1}});
            break;
        case 'o':
            b.line({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, true);
            break;
        case 'p':
            b.line({{0, down}, {0, 0}, {1, 0}, {1, 1}, {0, 1}});
            break;
        case 'q':
            b.line({{1, down}, {1, 0}, {0, 0}, {0, 1}, {1, 1}});
            break;
        case 'r':
            b.line({{0, 1}, {0, 0}, {1, 0}});
            break;
        case 's':
            b.line({{1, 0}, {0, 0}, {0, .5}, {1, .5}, {1, 1}, {0, 1}});
            break;
        case 't':
            b.line({{.3, up}, {.3, 1}, {1, 1}});
            b.line({{0, 0}, {1, 0}});
            break;
        case 'u':
            b.line({{0, 0}, {0, 1}, {1, 1}, {1, 0}});
            break;
        case 'v':
            b.line({{0, 0}, {.5, 1}, {1, 0}});
            break;
        case 'w':
            b.line({{0, 0}, {0, 1}, {1, 1}, {1, 0}});
            b.line({{.5, .35}, {.5, 1}});
            break;
        case 'x':
            b.line({{0, 0}, {1, 1}});
            b.line({{1, 0}, {0, 1}});
            break;
        case 'y':
            b.line({{0, 0}, {0, 1}, {1, 1}});
            b.line({{1, 0}, {1, down}, {0, down}});
            break;
        case 'z':
            b.line({{0, 0}, {1, 0}, {0, 1}, {1, 1}});
            break;
        default:
            break;
    }
}

// The symbols, drawn in em coordinates of their own cell.
void buildSymbol(GlyphBuilder& b, char16_t u) {
    const qreal t = b.stroke(), thin = t * 0.7;
    const qreal yt = kCapTop + t / 2, yb = kBaseline - t / 2;
    switch (u) {
        case '-':
            b.hSegment(kMiddle, 0.01, 0.235);
            break;
        case '.':
            b.fillRect(0.05, kBaseline - 0.09, 0.14, kBaseline);
            break;
        case ':':
            b.fillRect(0.05, kBaseline - 0.09, 0.14, kBaseline);
            b.fillRect(0.05, kXTop + 0.04, 0.14, kXTop + 0.13);
            break;
        case '%':
            b.polyline({{0.08, yt}, {0.08, 0.40}, {0.26, 0.40}, {0.26, yt}, {0.08, yt}}, thin);
            b.polyline({{0.47, 0.71}, {0.47, yb}, {0.65, yb}, {0.65, 0.71}, {0.47, 0.71}}, thin);
            b.polyline({{0.62, yt}, {0.09, yb}}, t);
            break;
        case '*':
        case 0x03A9: {  // ohm
            const QPointF c(0.30, kCapTop + t / 2 + 0.25);
            b.arc(c, 0.20, 0.25, 300, 300, t);
            const qreal legTop = c.y() + 0.25 * 0.866;
            b.polyline({{0.40, legTop}, {0.40, yb}, {0.53, yb}}, t);
            b.polyline({{0.20, legTop}, {0.20, yb}, {0.07, yb}}, t);
            break;
        }
        case '+':
        case 0x00B5:  // micro
            b.smallBox(symbolAdvance(u));
            b.line({{0, 0}, {0, 1.3}});
            b.line({{0, 1}, {1, 1}, {1, 0}});
            break;
        case '#':  // degrees Celsius
        case '?':  // degrees Fahrenheit
            b.ring({0.13, kCapTop + 0.09}, 0.07, 0.07, thin);
            b.setBox(0.27, kCapTop, symbolAdvance(u) - 0.06 - kLean, kBaseline);
            if (u == '#') {
                b.line({{1, 0}, {0, 0}, {0, 1}, {1, 1}});
            } else {
                b.line({{1, 0}, {0, 0}, {0, 1}});
                b.line({{0, .5}, {.75, .5}});
            }
            break;
        case ')':  // diode: lead, triangle pointing along the current, bar
            b.polyline({{0.05, kMiddle}, {0.95, kMiddle}}, thin);
            b.add(QPolygonF({{0.34, kMiddle - 0.21}, {0.34, kMiddle + 0.21}, {0.64, kMiddle}}));
            b.polyline({{0.66, kMiddle - 0.21}, {0.66, kMiddle + 0.21}}, t);
            break;
        case '&':  // continuity beeper: loudspeaker and sound waves
            b.fillRect(0.05, kMiddle - 0.08, 0.15, kMiddle + 0.08);
            b.add(QPolygonF({{0.15, kMiddle - 0.08},
                             {0.30, kMiddle - 0.21},
                             {0.30, kMiddle + 0.21},
                             {0.15, kMiddle + 0.08}}));
            for (qreal r : {0.14, 0.26, 0.38}) b.arc({0.30, kMiddle}, r, r, -40, 80, thin);
            break;
        case '"':  // HOLD: an H in a frame
            b.polyline({{0.07, yt}, {0.42, yt}, {0.42, yb}, {0.07, yb}, {0.07, yt}}, thin);
            b.setBox(0.14, kCapTop + 0.15, 0.35, kBaseline - 0.15);
            b.line({{0, 0}, {0, 1}});
            b.line({{1, 0}, {1, 1}});
            b.line({{0, .5}, {1, .5}});
            break;
        case '!':  // record mark: a dot in a ring
            b.ring({0.27, kMiddle}, 0.2, 0.2, thin);
            b.disc({0.27, kMiddle}, 0.1);
            break;
        case '$': {  // low battery, standing upright with little charge left
            const qreal w = thin / 2;
            b.polyline({{0.05 + w, 0.30}, {0.25 - w, 0.30}, {0.25 - w, yb}, {0.05 + w, yb}, {0.05 + w, 0.30}},
                       thin);
            b.fillRect(0.11, 0.22, 0.19, 0.30);
            b.fillRect(0.10, 0.76, 0.20, kBaseline - thin - 0.02);
            break;
        }
        case '(':  // bar mark: three stacked bars
            for (qreal y : {0.36, 0.53, 0.70}) b.fillRect(0.05, y, 0.22, y + 0.09);
            break;
        // The port indicators: "COM /" is port 1, "COM ," port 2 and so on. Drawn in the stroke
        // style of the letters beside them, which stays legible at the indicator's small size.
        case '/':
            b.capitalBox(symbolAdvance(u));
            b.line({{.2, .22}, {.65, 0}, {.65, 1}});
            break;
        case ',':
            b.capitalBox(symbolAdvance(u));
            b.line({{0, 0}, {1, 0}, {1, .5}, {0, .5}, {0, 1}, {1, 1}});
            break;
        case '<':
            b.capitalBox(symbolAdvance(u));
            b.line({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
            b.line({{.3, .5}, {1, .5}});
            break;
        case '>':
            b.capitalBox(symbolAdvance(u));
            b.line({{0, 0}, {0, .6}, {1, .6}});
            b.line({{.75, 0}, {.75, 1}});
            break;
        default:
            break;
    }
}

QPainterPath buildGlyph(QChar c, bool bold) {
    GlyphBuilder b(bold);
    const int segs = segmentPattern(c);
    const char16_t u = c.unicode();
    if (segs >= 0) {
        b.sevenSegment(static_cast<unsigned>(segs), 0.02, kDigitAdvance - 0.02 - kLean);
    } else if (u >= 'A' && u <= 'Z') {
        buildCapital(b, u);
    } else if (u >= 'a' && u <= 'z') {
        buildSmall(b, u);
    } else {
        buildSymbol(b, u);
    }
    // lean the glyph about its baseline
    return QTransform(1, 0, -kSlant, 1, kSlant * kBaseline, 0).map(b.result());
}

}  // namespace

bool LcdGlyphs::hasGlyph(QChar c) {
    const char16_t u = c.unicode();
    return segmentPattern(c) >= 0 || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || symbolAdvance(u) > 0;
}

qreal LcdGlyphs::advance(QChar c, qreal height) {
    return advanceEm(c) * height;
}

qreal LcdGlyphs::textWidth(const QString& text, qreal height) {
    qreal em = 0;
    for (QChar c : text) em += advanceEm(c);
    return em * height;
}

int LcdGlyphs::lineHeight(qreal height) {
    return qRound(kLineHeight * height);
}

const QPainterPath& LcdGlyphs::unitGlyph(QChar c, bool bold) {
    static QHash<quint32, QPainterPath> cache;
    const quint32 key = (quint32(c.unicode()) << 1) | (bold ? 1u : 0u);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.insert(key, hasGlyph(c) ? buildGlyph(c, bold) : QPainterPath());
    return *it;
}

QPainterPath LcdGlyphs::textPath(const QString& text, qreal height, bool bold, bool italic) {
    // odd-even filling keeps the counters of O, D and the rings open
    QPainterPath em;
    qreal x = 0;
    for (QChar c : text) {
        const QPainterPath& g = unitGlyph(c, bold);
        if (!g.isEmpty()) em.addPath(g.translated(x, 0));
        x += advanceEm(c);
    }
    QTransform t;
    t.scale(height, height);
    if (italic) t = QTransform(1, 0, -kItalicSlant, 1, kItalicSlant * kBaseline, 0) * t;
    return t.map(em);
}

void LcdGlyphs::drawText(QPainter& painter, const QPointF& topLeft, const QString& text, qreal height,
                         bool bold, bool italic, const QColor& color) {
    if (text.isEmpty() || height <= 0) return;
    const QPainterPath path = textPath(text, height, bold, italic);
    if (path.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillPath(path.translated(topLeft), color);
    painter.restore();
}

QString LcdGlyphs::unitText(const QString& unit) {
    QString shown = unit;
    shown.replace(QLatin1Char('u'), QChar(0x00B5));
    return shown;
}
