#include "ChartPanel.h"

#include <QAbstractButton>
#include <QChart>
#include <QCursor>
#include <QGraphicsLayout>
#include <QGraphicsRectItem>
#include <QLineSeries>
#include <QLinearGradient>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "ChartGlyphs.h"
#include "ChartPaging.h"
#include "ChartPoints.h"
#include "ChartView.h"
#include "PageSampler.h"
#include "TracePlot.h"

namespace {

constexpr int kLeftWallSize = 11;
constexpr int kBottomWallSize = 3;
// room for the toolbar along the top edge
constexpr int kToolbarHeight = 26;
// the chart's own series lie above its grid and axes
constexpr qreal kSeriesZ = 10;

// Series2: a yellow area with a blue outline; Series1: a green line
const QColor kAreaColor(0xFF, 0xFF, 0x80);
const QColor kAreaLineColor(0x00, 0x80, 0xFF);
const QColor kLineColor(0x80, 0xFF, 0x00);

QFont arial(int pixels) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    return f;
}

QPen cosmetic(QPen pen) {
    if (pen.widthF() <= 1) pen.setWidth(0);
    return pen;
}

// 1, 2 or 5 times a power of ten, at least `step`, at least 1: whole point numbers on the axis
double niceStep(double step) {
    if (!(step > 1)) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(step)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= step) return m * power;
    }
    return 10 * power;
}

}  // namespace

ChartPanel::ChartPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    buildChart();
    redraw_.setSingleShot(true);
    connect(&redraw_, &QTimer::timeout, this, &ChartPanel::draw);
}

ChartPanel::~ChartPanel() = default;

void ChartPanel::buildChart() {
    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->hide();
    chart_->setBackgroundRoundness(0);
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, QColor(0xFF, 0xFF, 0xA4));
    gradient.setColorAt(1, QColor(0xFF, 0xDD, 0xDD));
    chart_->setBackgroundBrush(gradient);
    chart_->setBackgroundPen(Qt::NoPen);
    chart_->setTitle(QStringLiteral("  "));
    chart_->setTitleBrush(QColor(Qt::blue));
    chart_->setTitleFont(arial(13));

    axesSeries_ = new QLineSeries;
    chart_->addSeries(axesSeries_);

    axisX_ = new QValueAxis;
    axisX_->setLabelFormat(QStringLiteral("%.0f"));
    axisX_->setLabelsFont(arial(10));
    axisX_->setTickType(QValueAxis::TicksDynamic);
    axisX_->setTickInterval(25);
    axisY_ = new QValueAxis;
    axisY_->setLabelFormat(QStringLiteral("%d"));
    axisY_->setLabelsFont(arial(10));
    axisY_->setLinePen(QPen(QColor(0x00, 0x40, 0x80), 1, Qt::DashLine));
    axisY_->setMinorTickCount(4);
    // minor ticks mark the axis only; no lines of theirs cross the plot
    axisY_->setMinorGridLineVisible(false);
    axisY_->setRange(-4100, 4100);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    // One-pixel lines drawn with cosmetic pens look the same, but the chart finds their extent
    // without stroking them: every repaint, however small, asks each line item for it.
    for (QValueAxis* axis : {axisX_, axisY_}) {
        axis->setLinePen(cosmetic(axis->linePen()));
        axis->setGridLinePen(cosmetic(axis->gridLinePen()));
        axis->setMinorGridLinePen(cosmetic(axis->minorGridLinePen()));
    }
    axesSeries_->attachAxis(axisX_);
    axesSeries_->attachAxis(axisY_);
    trace_ = new TracePlot(chart_);
    trace_->setZValue(kSeriesZ);
    trace_->onHover = [this](const QPointF& value, bool entered) { showHint(value, entered); };

    leftWall_ = new QGraphicsRectItem(chart_);
    leftWall_->setBrush(QColor(0xFF, 0xFF, 0x80));
    leftWall_->setPen(Qt::NoPen);
    leftWall_->setZValue(-0.5);
    bottomWall_ = new QGraphicsRectItem(chart_);
    bottomWall_->setBrush(Qt::white);
    bottomWall_->setPen(Qt::NoPen);
    bottomWall_->setZValue(-0.5);

    view_ = new ChartView(chart_, this);
    view_->setCurve(trace_);
    view_->setBackgroundBrush(palette().window());

    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF&) {
        placeWalls();
        placeTrace();
        if (plotColumns() != drawnColumns_) invalidate();
        if (dirty_) QTimer::singleShot(0, this, &ChartPanel::refresh);
    });
    connect(view_, &ChartView::zoomChanged, this, &ChartPanel::zoomedByUser);
    connect(axisX_, &QValueAxis::rangeChanged, this, &ChartPanel::placeTrace);
    connect(axisY_, &QValueAxis::rangeChanged, this, &ChartPanel::placeTrace);
}

void ChartPanel::attach(const ChartPoints* points, const ChartPaging* paging) {
    points_ = points;
    paging_ = paging;
    invalidate();
}

void ChartPanel::decorateToolbar() {
    using ChartGlyphs::Glyph;
    const std::pair<const char*, Glyph> glyphs[] = {
        {"BtNew", Glyph::New},           {"BtSave", Glyph::Save},  {"BtFirst", Glyph::First},
        {"BTPrevious", Glyph::Previous}, {"BtNext", Glyph::Next},  {"BTlast", Glyph::Last},
        {"TbFd", Glyph::Enlarge},        {"TbSx", Glyph::Restore},
    };
    for (const auto& [name, glyph] : glyphs) {
        if (auto* b = findChild<QAbstractButton*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly)) {
            b->setIcon(ChartGlyphs::icon(glyph));
            b->setCursor(Qt::ArrowCursor);
        }
    }
    view_->lower();
}

void ChartPanel::setLeftAxis(double maximum, double minimum) {
    axisY_->setMax(maximum);
    axisY_->setMin(minimum);
}

double ChartPanel::leftAxisMaximum() const {
    return axisY_->max();
}
double ChartPanel::leftAxisMinimum() const {
    return axisY_->min();
}
const QList<QPointF>& ChartPanel::shownPoints() {
    if (redraw_.isActive()) draw();
    return shown_;
}

double ChartPanel::bottomAxisMinimum() {
    if (redraw_.isActive()) draw();
    return axisX_->min();
}

double ChartPanel::bottomAxisMaximum() {
    if (redraw_.isActive()) draw();
    return axisX_->max();
}

int ChartPanel::plotColumns() const {
    const int w = static_cast<int>(std::lround(chart_->plotArea().width()));
    return w > 0 ? w : std::max(1, width());
}

// The first change after a quiet spell is drawn at once; while changes keep coming they are drawn
// together, once per period.
void ChartPanel::refresh() {
    if (!dirty_ || redraw_.isActive()) return;
    const int period = axisWillMove() ? kMinAxisRedrawMs : kMinRedrawMs;
    const qint64 since = sinceDrawn_.isValid() ? sinceDrawn_.elapsed() : period;
    if (since >= period) {
        draw();
    } else {
        redraw_.start(int(period - since));
    }
}

bool ChartPanel::axisWillMove() const {
    if (!points_ || !paging_ || chart_->isZoomed()) return false;
    const PageView page = paging_->view(points_->activeCount());
    return page.axisMin != axisX_->min() || page.axisMax != axisX_->max();
}

void ChartPanel::draw() {
    redraw_.stop();
    if (!dirty_ || !points_ || !paging_ || drawing_) return;
    dirty_ = false;
    if (!redrawAll_ && newPointsChangeNothing()) return;
    sinceDrawn_.start();
    redrawAll_ = false;
    drawing_ = true;
    const int active = points_->activeSeries();
    if (paging_->Page() != shownPage_) {
        if (chart_->isZoomed()) chart_->zoomReset();
        shownPage_ = paging_->Page();
    }

    const PageView page = paging_->view(points_->activeCount());
    int64_t first = page.first;
    int64_t count = page.count;
    if (chart_->isZoomed()) {
        // the part of the page the user zoomed to, with a point either side so lines reach the edges
        const int64_t lo = std::max<int64_t>(first, static_cast<int64_t>(std::floor(axisX_->min())) - 1);
        const int64_t hi =
            std::min<int64_t>(first + count, static_cast<int64_t>(std::ceil(axisX_->max())) + 2);
        first = lo;
        count = std::max<int64_t>(hi - lo, 0);
        setBottomAxis(axisX_->min(), axisX_->max());
    } else {
        setBottomAxis(page.axisMin, page.axisMax);
    }
    const bool area = active == ChartPoints::AreaSeries;
    const int columns = plotColumns();
    PageSampler::sample(*points_, first, count, columns, shown_, area ? &fill_ : nullptr);
    drawnEnd_ = first + count;
    drawnColumns_ = columns;
    drawnPerColumn_ = 0;
    if (!chart_->isZoomed() && count > int64_t(columns) * 4) {
        drawnPerColumn_ = double(count) / columns;
        const ChartPoints::Range last = points_->range(first + count * (columns - 1) / columns, drawnEnd_);
        lastColumnMin_ = last.min;
        lastColumnMax_ = last.max;
    }
    if (area) {
        trace_->setArea(fill_, kAreaColor, shown_, QPen(kAreaLineColor, 1));
    } else if (active == ChartPoints::LineSeries) {
        trace_->setLine(shown_, QPen(kLineColor, 1));
    } else {
        trace_->clear();
    }
    drawing_ = false;
}

bool ChartPanel::newPointsChangeNothing() const {
    if (drawnPerColumn_ <= 0 || paging_->Page() != shownPage_) return false;
    const PageView page = paging_->view(points_->activeCount());
    const int64_t end = page.first + page.count;
    if (end < drawnEnd_ || double(end - drawnEnd_) >= drawnPerColumn_) return false;
    if (end == drawnEnd_) return true;
    // a break among them splits the last column
    if (points_->nextBreak(drawnEnd_) < end) return false;
    const ChartPoints::Range fresh = points_->range(drawnEnd_, end);
    return fresh.min >= lastColumnMin_ && fresh.max <= lastColumnMax_;
}

// Ticks at round steps. The axis makes an item per tick, so the step and the range change in the
// order that never asks for more ticks than either the old or the new axis has.
void ChartPanel::setBottomAxis(double minimum, double maximum) {
    const double step = niceStep((maximum - minimum) / 6);
    if (step >= axisX_->tickInterval()) {
        axisX_->setTickInterval(step);
        axisX_->setRange(minimum, maximum);
    } else {
        axisX_->setRange(minimum, maximum);
        axisX_->setTickInterval(step);
    }
    axisX_->setTickAnchor(std::ceil(minimum / step) * step);
}

// The panel's frame with the chart drawn inside it, leaving out the toolbar on top.
QImage ChartPanel::picture() {
    draw();
    QImage image(size(), QImage::Format_RGB32);
    image.fill(palette().color(QPalette::Window));
    render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    view_->QWidget::render(&image, view_->pos(), QRegion(),
                           QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return image;
}

void ChartPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    view_->setGeometry(contentsRect());
    // the plot starts below the toolbar; a chart too small for that keeps what it can
    const int top = std::min(kToolbarHeight - 16, std::max(0, height() / 4));
    chart_->setMargins(QMargins(std::max(1, width() / 100), top, 4, std::max(1, height() / 100)));
}

void ChartPanel::placeWalls() {
    const QRectF plot = chart_->plotArea();
    leftWall_->setRect(plot.left() - kLeftWallSize, plot.top(), kLeftWallSize, plot.height());
    bottomWall_->setRect(plot.left(), plot.bottom(), plot.width(), kBottomWallSize);
}

void ChartPanel::placeTrace() {
    trace_->setPlot(chart_->plotArea(), axisX_->min(), axisX_->max(), axisY_->min(), axisY_->max());
}

void ChartPanel::showHint(const QPointF& point, bool entered) {
    if (!entered || !points_ || points_->activeCount() == 0) {
        QToolTip::hideText();
        return;
    }
    const int64_t last = points_->activeCount() - 1;
    const int64_t index = std::clamp<int64_t>(std::llround(point.x()), 0, last);
    QToolTip::showText(QCursor::pos(), QStringLiteral("%1: %2").arg(index).arg(double(points_->value(index))),
                       view_);
}

void ChartPanel::zoomedByUser() {
    invalidate();
    draw();
}
