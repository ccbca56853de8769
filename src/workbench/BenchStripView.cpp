#include "BenchStripView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

#include "BenchStripScale.h"
#include "BenchStripTrace.h"
#include "BenchStrips.h"
#include "BenchTimeAxis.h"

namespace {

constexpr int kGap = 4;  // between strips
constexpr int kRightMargin = 8;
constexpr int kTickGapPx = 90;  // the least room for a time label
// one notch of the wheel zooms by this much
constexpr double kZoomStep = 0.8;

const QColor kStripColors[] = {QColor(0x1d, 0x5f, 0xbf), QColor(0xc8, 0x30, 0x2a), QColor(0x1e, 0x8c, 0x45),
                               QColor(0xc7, 0x6a, 0x00), QColor(0x7a, 0x3d, 0xb8), QColor(0x00, 0x86, 0x8a),
                               QColor(0xb0, 0x2e, 0x8c), QColor(0x5a, 0x5a, 0x5a)};
const QColor kPlotColor(0xfc, 0xfc, 0xfa);
const QColor kGridColor(0xe2, 0xe2, 0xe2);
const QColor kFrameColor(0xb4, 0xb4, 0xb4);

}  // namespace

BenchStripView::BenchStripView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::OpenHandCursor);
}

void BenchStripView::setSource(const BenchStrips* strips, BenchTimeAxis* axis) {
    strips_ = strips;
    axis_ = axis;
    updateGeometry();
    update();
}

int BenchStripView::leftMargin() const {
    return fontMetrics().horizontalAdvance(QStringLiteral("-888.888 mWh")) + 10;
}

int BenchStripView::axisHeight() const {
    return fontMetrics().height() + 6;
}

int BenchStripView::plotWidth() const {
    return std::max(1, width() - leftMargin() - kRightMargin);
}

QRect BenchStripView::plotRect(int strip) const {
    const int n = strips_ ? std::max(strips_->size(), 1) : 1;
    const int top = kGap;
    const int height = std::max(1, (this->height() - top - axisHeight() - (n - 1) * kGap) / n);
    return QRect(leftMargin(), top + strip * (height + kGap), plotWidth(), height);
}

// Two lines of labels per strip, the top and bottom of its scale, and the axis' labels.
int BenchStripView::minimumHeightFor(int strips) const {
    const int n = std::max(strips, 1);
    return kGap + n * (2 * fontMetrics().height() + 4) + (n - 1) * kGap + axisHeight();
}

QSize BenchStripView::minimumSizeHint() const {
    return QSize(leftMargin() + kRightMargin + 2 * kTickGapPx,
                 minimumHeightFor(strips_ ? strips_->size() : 1));
}

void BenchStripView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!strips_ || !axis_) return;
    const double msPerPx = double(axis_->span()) / plotWidth();
    std::vector<int> tickColumns;
    for (const BenchTimeAxis::Tick& tick : axis_->ticks(plotWidth(), kTickGapPx)) {
        tickColumns.push_back(int(std::floor(double(tick.timeMs - axis_->start()) / msPerPx)));
    }
    for (int i = 0; i < strips_->size(); ++i) paintStrip(painter, i, tickColumns);
    paintAxis(painter);
}

void BenchStripView::paintStrip(QPainter& painter, int index, const std::vector<int>& tickColumns) {
    const BenchStrips::Strip& strip = strips_->at(index);
    const QRect plot = plotRect(index);
    painter.fillRect(plot, kPlotColor);
    painter.setPen(kGridColor);
    for (int c : tickColumns) painter.drawLine(plot.left() + c, plot.top(), plot.left() + c, plot.bottom());
    painter.drawLine(plot.left(), plot.center().y(), plot.right(), plot.center().y());

    const double msPerPx = double(axis_->span()) / plot.width();
    const BenchStripTrace trace =
        BenchStripTrace::reduce(strip.points, axis_->start(), msPerPx, plot.width());
    const BenchStripScale scale = BenchStripScale::fit(trace.range);
    // y of a value, the scale's top on the plot's first row and its bottom on its last
    const double rows = plot.height() - 1;
    const auto y = [&](double v) { return plot.top() + rows * (1 - scale.fraction(v)); };
    const QColor color = kStripColors[index % std::size(kStripColors)];
    QVector<QLineF> lines;
    lines.reserve(qsizetype(trace.bars.size() + trace.joins.size()));
    for (const BenchStripTrace::Join& j : trace.joins) {
        lines.append(QLineF(plot.left() + j.x0, y(j.y0), plot.left() + j.x1, y(j.y1)));
    }
    for (const BenchStripTrace::Bar& b : trace.bars) {
        const double x = plot.left() + b.column + 0.5;
        lines.append(QLineF(x, y(b.max), x, y(b.min)));
    }
    painter.save();
    painter.setClipRect(plot);
    painter.setPen(QPen(color, 1));
    painter.drawLines(lines);
    // a bar of one value is a line of no length, which a pen of width 1 leaves out
    QVector<QPointF> dots;
    for (const BenchStripTrace::Bar& b : trace.bars) {
        if (b.min == b.max) dots.append(QPointF(plot.left() + b.column + 0.5, y(b.min)));
    }
    painter.drawPoints(dots);
    painter.restore();
    painter.setPen(kFrameColor);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));

    // the name inside the plot's top left corner, the scale in the margin beside it
    const QFontMetrics fm = fontMetrics();
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    const QRect nameRect = QFontMetrics(bold).boundingRect(strip.name).adjusted(-3, 0, 3, 0);
    const QRect nameBox(plot.left() + 1, plot.top() + 1, nameRect.width(), fm.height());
    painter.fillRect(nameBox, QColor(255, 255, 255, 200));
    painter.setPen(color);
    painter.drawText(nameBox, Qt::AlignCenter, strip.name);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const int labelWidth = leftMargin() - 6;
    if (trace.range.empty()) {
        painter.drawText(QRect(0, plot.top(), labelWidth, plot.height()), Qt::AlignRight | Qt::AlignVCenter,
                         tr("no value"));
        return;
    }
    painter.drawText(QRect(0, plot.top(), labelWidth, fm.height()), Qt::AlignRight | Qt::AlignTop,
                     scale.label(scale.high, strip.unit));
    painter.drawText(QRect(0, plot.bottom() - fm.height() + 1, labelWidth, fm.height()),
                     Qt::AlignRight | Qt::AlignBottom, scale.label(scale.low, strip.unit));
}

void BenchStripView::paintAxis(QPainter& painter) {
    const QRect last = plotRect(std::max(strips_->size(), 1) - 1);
    const int top = last.bottom() + 3;
    const double msPerPx = double(axis_->span()) / plotWidth();
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm = fontMetrics();
    for (const BenchTimeAxis::Tick& tick : axis_->ticks(plotWidth(), kTickGapPx)) {
        const int x = leftMargin() + int(std::floor(double(tick.timeMs - axis_->start()) / msPerPx));
        const int w = fm.horizontalAdvance(tick.label);
        // labels stay whole inside the width
        const int left = std::clamp(x - w / 2, leftMargin(), width() - w - 1);
        painter.drawLine(x, top - 3, x, top);
        painter.drawText(QRect(left, top, w, fm.height()), Qt::AlignCenter, tick.label);
    }
}

void BenchStripView::viewChanged() {
    update();
    if (onViewChanged) onViewChanged();
}

void BenchStripView::wheelEvent(QWheelEvent* event) {
    if (!axis_) return;
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    const double along = (event->position().x() - leftMargin()) / plotWidth();
    const int64_t anchor = axis_->start() + std::llround(std::clamp(along, 0.0, 1.0) * double(axis_->span()));
    axis_->zoom(std::pow(kZoomStep, notches), anchor);
    event->accept();
    viewChanged();
}

void BenchStripView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    dragX_ = event->position().x();
    dragRest_ = 0;
    setCursor(Qt::ClosedHandCursor);
}

// Dragging to the right brings earlier times into view.
void BenchStripView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !axis_) return;
    const double x = event->position().x();
    const double ms = (dragX_ - x) * double(axis_->span()) / plotWidth() + dragRest_;
    dragX_ = x;
    const int64_t whole = int64_t(std::trunc(ms));
    dragRest_ = ms - double(whole);
    if (whole == 0) return;
    axis_->pan(whole);
    viewChanged();
}

void BenchStripView::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
    setCursor(Qt::OpenHandCursor);
}

void BenchStripView::mouseDoubleClickEvent(QMouseEvent*) {
    if (!axis_) return;
    axis_->setFollow(true);
    viewChanged();
}
