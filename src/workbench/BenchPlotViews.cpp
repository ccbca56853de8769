#include "BenchPlotViews.h"

#include <QBuffer>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QSvgGenerator>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "BenchModel.h"
#include "BenchTimeAxis.h"
#include "SaveBesideFile.h"

namespace {

constexpr int kRefreshMs = 500;
constexpr double kZoomStep = 0.8;  // one notch of the wheel
constexpr int kDivisions = 5;      // grid lines across each axis
const QColor kPlotColor(0xfc, 0xfc, 0xfa);
const QColor kGridColor(0xe2, 0xe2, 0xe2);
const QColor kFrameColor(0xb4, 0xb4, 0xb4);
const QColor kInk(0x1d, 0x5f, 0xbf);

QString titled(const BenchModel& model, int id) {
    const ChannelInfo* ch = model.channel(id);
    if (!ch) return QStringLiteral("?");
    return ch->unit.isEmpty() ? ch->name : QStringLiteral("%1 (%2)").arg(ch->name, ch->unit);
}

QString unitOf(const BenchModel& model, int id) {
    const ChannelInfo* ch = model.channel(id);
    return ch ? ch->unit : QString();
}

// The plot's frame, background and grid, with the labels of the scales' ends and middles (of y
// when there is one).
void drawFrame(QPainter& p, const QRect& plot, const BenchStripScale& x, const QString& xUnit,
               const BenchStripScale* y, const QString& yUnit, const QPalette& palette) {
    p.fillRect(plot, kPlotColor);
    p.setPen(kGridColor);
    for (int k = 1; k < kDivisions; ++k) {
        const int gx = plot.left() + plot.width() * k / kDivisions;
        const int gy = plot.top() + plot.height() * k / kDivisions;
        p.drawLine(gx, plot.top(), gx, plot.bottom());
        p.drawLine(plot.left(), gy, plot.right(), gy);
    }
    p.setPen(kFrameColor);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.setPen(palette.color(QPalette::WindowText));
    const QFontMetrics fm = p.fontMetrics();
    const int h = fm.height();
    const int w = plot.left() - 6;
    if (y) {
        p.drawText(QRect(0, plot.top(), w, h), Qt::AlignRight | Qt::AlignTop, y->label(y->high, yUnit));
        p.drawText(QRect(0, plot.center().y() - h / 2, w, h), Qt::AlignRight | Qt::AlignVCenter,
                   y->label((y->low + y->high) / 2, yUnit));
        p.drawText(QRect(0, plot.bottom() - h + 1, w, h), Qt::AlignRight | Qt::AlignBottom,
                   y->label(y->low, yUnit));
    }
    const int top = plot.bottom() + 3;
    const int half = plot.width() / 2;
    p.drawText(QRect(plot.left(), top, half, h), Qt::AlignLeft, x.label(x.low, xUnit));
    p.drawText(QRect(plot.center().x() - half / 2, top, half, h), Qt::AlignHCenter,
               x.label((x.low + x.high) / 2, xUnit));
    p.drawText(QRect(plot.right() - half, top, half, h), Qt::AlignRight, x.label(x.high, xUnit));
}

QRect plotIn(const QRect& area, const QFontMetrics& fm) {
    const int left = fm.horizontalAdvance(QStringLiteral("-888.888 mWh")) + 10;
    const int top = fm.height() + 10;
    const int bottom = fm.height() + 8;
    return area.adjusted(left, top, -12, -bottom);
}

// A window around a plot: the controls and an Export button above it; the plot follows the model.
QWidget* plotWindow(BenchPlotView* view, QHBoxLayout* controls, QWidget* parent, const QString& title) {
    auto* window = new QWidget(parent, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title);
    view->setParent(window);
    auto* exportButton = new QPushButton(QObject::tr("Export…"), window);
    exportButton->setObjectName(QStringLiteral("BenchPlotExport"));
    controls->addStretch(1);
    controls->addWidget(exportButton);
    auto* layout = new QVBoxLayout(window);
    layout->addLayout(controls);
    layout->addWidget(view, 1);
    QObject::connect(exportButton, &QPushButton::clicked, window, [window, view] {
        QString filter;
        QString path =
            QFileDialog::getSaveFileName(window, QObject::tr("Export"), QString(),
                                         QObject::tr("PNG image (*.png);;SVG drawing (*.svg)"), &filter);
        if (path.isEmpty()) return;
        if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
            !path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
            path += filter.contains(QStringLiteral("svg")) ? QStringLiteral(".svg") : QStringLiteral(".png");
        QString error;
        if (!view->save(path, &error)) QMessageBox::warning(window, QObject::tr("Export"), error);
    });
    auto* timer = new QTimer(window);
    timer->setInterval(kRefreshMs);
    QObject::connect(timer, &QTimer::timeout, view, &BenchPlotView::refresh);
    timer->start();
    window->resize(640, 480);
    view->refresh();
    window->show();
    return window;
}

}  // namespace

void BenchPlotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    draw(painter, rect());
}

bool BenchPlotView::save(const QString& path, QString* error) const {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const QRect area(QPoint(0, 0), size());
    bool drawn = true;
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(area.size());
        svg.setViewBox(area);
        svg.setTitle(window()->windowTitle());
        QPainter painter(&svg);
        painter.setFont(font());
        draw(painter, area);
    } else {
        QImage image(area.size(), QImage::Format_RGB32);
        QPainter painter(&image);
        painter.setFont(font());
        draw(painter, area);
        painter.end();
        drawn = image.save(&buffer, "PNG");
    }
    SaveBesideFile file(path);
    if (!drawn || !file.open() || file.write(buffer.data()) != buffer.size() || !file.commit()) {
        if (error)
            *error =
                QObject::tr("cannot write '%1': %2")
                    .arg(path, drawn ? file.errorString() : QObject::tr("the picture could not be made"));
        file.cancelWriting();
        return false;
    }
    return true;
}

BenchXyView::BenchXyView(const BenchModel& model, const BenchTimeAxis& axis, QWidget* parent)
    : BenchPlotView(parent), model_(model), axis_(axis) {
    setCursor(Qt::OpenHandCursor);
    setMinimumSize(320, 240);
}

void BenchXyView::setChannels(int xId, int yId) {
    x_ = xId;
    y_ = yId;
    viewport_.fitAgain();
    refresh();
}

void BenchXyView::refresh() {
    points_ = BenchXy::pair(model_.history(x_), model_.history(y_), axis_.start(), axis_.end(),
                            model_.staleAfterMs(x_));
    viewport_.follow(points_);
    update();
}

QRect BenchXyView::plotRect(const QRect& area) const {
    return plotIn(area, fontMetrics());
}

void BenchXyView::draw(QPainter& p, const QRect& area) const {
    p.fillRect(area, palette().window());
    const QRect plot = plotRect(area);
    if (plot.width() < 2 || plot.height() < 2) return;
    const BenchStripScale& xs = viewport_.x();
    const BenchStripScale& ys = viewport_.y();
    drawFrame(p, plot, xs, unitOf(model_, x_), &ys, unitOf(model_, y_), palette());
    p.drawText(QRect(area.left(), area.top() + 4, area.width(), fontMetrics().height()), Qt::AlignHCenter,
               tr("%1 against %2 · %3 points over %4")
                   .arg(titled(model_, y_), titled(model_, x_))
                   .arg(points_.size())
                   .arg(BenchTimeAxis::spanText(axis_.span())));
    // a pixel is drawn once however many points fall on it
    const int w = plot.width(), h = plot.height();
    std::vector<bool> taken(size_t(w) * size_t(h));
    QVector<QPointF> dots;
    for (const XyPoint& pt : points_) {
        const double fx = xs.fraction(pt.x), fy = ys.fraction(pt.y);
        if (!(fx >= 0 && fx <= 1 && fy >= 0 && fy <= 1)) continue;
        const int cx = std::min(w - 1, int(fx * (w - 1) + 0.5));
        const int cy = std::min(h - 1, int((1 - fy) * (h - 1) + 0.5));
        const size_t cell = size_t(cy) * size_t(w) + size_t(cx);
        if (taken[cell]) continue;
        taken[cell] = true;
        dots.append(QPointF(plot.left() + cx + 0.5, plot.top() + cy + 0.5));
    }
    p.save();
    p.setClipRect(plot);
    p.setPen(QPen(kInk, 2));
    p.drawPoints(dots);
    p.restore();
    if (points_.empty()) {
        p.drawText(plot, Qt::AlignCenter, tr("no readings of both in the time the chart shows"));
    }
}

void BenchXyView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    const QRect plot = plotRect(rect());
    if (notches == 0 || plot.width() < 2 || plot.height() < 2) return;
    const BenchStripScale& xs = viewport_.x();
    const BenchStripScale& ys = viewport_.y();
    const double fx = std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0);
    const double fy = std::clamp((plot.bottom() - event->position().y()) / plot.height(), 0.0, 1.0);
    viewport_.zoom(std::pow(kZoomStep, notches), xs.low + fx * (xs.high - xs.low),
                   ys.low + fy * (ys.high - ys.low));
    event->accept();
    update();
}

void BenchXyView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    dragFrom_ = event->position();
    setCursor(Qt::ClosedHandCursor);
}

// Dragging moves the points with the mouse.
void BenchXyView::mouseMoveEvent(QMouseEvent* event) {
    const QRect plot = plotRect(rect());
    if (!dragging_ || plot.width() < 2 || plot.height() < 2) return;
    const QPointF d = event->position() - dragFrom_;
    dragFrom_ = event->position();
    viewport_.pan(-d.x() / plot.width(), d.y() / plot.height());
    update();
}

void BenchXyView::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
    setCursor(Qt::OpenHandCursor);
}

void BenchXyView::mouseDoubleClickEvent(QMouseEvent*) {
    viewport_.fitAgain();
    refresh();
}

BenchHistogramView::BenchHistogramView(const BenchModel& model, int id, QWidget* parent)
    : BenchPlotView(parent), model_(model), id_(id) {
    setMinimumSize(320, 240);
}

void BenchHistogramView::setBinCount(int bins) {
    wanted_ = bins;
    refresh();
}

void BenchHistogramView::refresh() {
    std::vector<double> values = BenchHistogram::values(model_.history(id_), model_.statisticsFrom(id_));
    const int bins = wanted_ > 0 ? wanted_ : BenchHistogram::autoBins(values);
    bins_ = BenchHistogram::count(values, bins);
    update();
}

void BenchHistogramView::draw(QPainter& p, const QRect& area) const {
    p.fillRect(area, palette().window());
    const QRect plot = plotIn(area, fontMetrics());
    if (plot.width() < 2 || plot.height() < 2) return;
    const int n = int(bins_.counts.size());
    uint64_t most = 1;
    for (const uint64_t c : bins_.counts) most = std::max(most, c);
    const BenchStripScale xs{bins_.edge(0), bins_.edge(n)};
    // the count axis from 0 to the fullest bin, labelled in whole numbers
    const BenchStripScale ys{0, double(most)};
    const QString unit = unitOf(model_, id_);
    drawFrame(p, plot, xs, unit, nullptr, QString(), palette());
    const int h = fontMetrics().height();
    p.drawText(QRect(0, plot.top(), plot.left() - 6, h), Qt::AlignRight, QString::number(most));
    p.drawText(QRect(0, plot.bottom() - h + 1, plot.left() - 6, h), Qt::AlignRight, QStringLiteral("0"));
    const ChannelHistory& history = model_.history(id_);
    const bool whole = int64_t(model_.statisticsFrom(id_)) >= history.level(0).begin();
    p.drawText(QRect(area.left(), area.top() + 4, area.width(), h), Qt::AlignHCenter,
               tr("%1 · %2 values %3 · %4 bins of %5")
                   .arg(titled(model_, id_))
                   .arg(bins_.total)
                   .arg(whole ? tr("since the reset") : tr("of the last hour"))
                   .arg(n)
                   .arg(xs.label(bins_.width, unit)));
    QVector<QRectF> bars;
    for (int k = 0; k < n; ++k) {
        if (bins_.counts[size_t(k)] == 0) continue;
        const double x0 = plot.left() + xs.fraction(bins_.edge(k)) * plot.width();
        const double x1 = plot.left() + xs.fraction(bins_.edge(k + 1)) * plot.width();
        const double top = plot.bottom() + 1 - ys.fraction(double(bins_.counts[size_t(k)])) * plot.height();
        bars.append(QRectF(x0, top, std::max(1.0, x1 - x0), plot.bottom() + 1 - top));
    }
    p.setPen(QPen(kInk.darker(130), 1));
    p.setBrush(QColor(kInk.red(), kInk.green(), kInk.blue(), 150));
    p.drawRects(bars);
    p.setBrush(Qt::NoBrush);
    if (bins_.total == 0) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(plot, Qt::AlignCenter, tr("no values since the reset"));
    }
}

void openXyWindow(const BenchModel& model, const BenchTimeAxis& axis, int yId, QWidget* parent) {
    auto* view = new BenchXyView(model, axis);
    view->setObjectName(QStringLiteral("BenchXyView"));
    auto* xBox = new QComboBox;
    auto* yBox = new QComboBox;
    xBox->setObjectName(QStringLiteral("BenchXyX"));
    yBox->setObjectName(QStringLiteral("BenchXyY"));
    int xId = -1;
    for (const int id : model.channelIds()) {
        xBox->addItem(model.channel(id)->name, id);
        yBox->addItem(model.channel(id)->name, id);
        // x is the first other channel, one of another unit if there is one
        if (id != yId && (xId < 0 || (unitOf(model, xId) == unitOf(model, yId) &&
                                      unitOf(model, id) != unitOf(model, yId))))
            xId = id;
    }
    if (xId < 0) xId = yId;
    xBox->setCurrentIndex(xBox->findData(xId));
    yBox->setCurrentIndex(yBox->findData(yId));
    view->setChannels(xId, yId);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QObject::tr("y:")));
    controls->addWidget(yBox);
    controls->addWidget(new QLabel(QObject::tr("against x:")));
    controls->addWidget(xBox);
    auto* hint = new QLabel(QObject::tr("wheel: zoom · drag: pan · double click: fit"));
    hint->setEnabled(false);
    controls->addWidget(hint);
    QWidget* window = plotWindow(view, controls, parent, QObject::tr("XY plot"));
    const auto pick = [view, xBox, yBox] {
        view->setChannels(xBox->currentData().toInt(), yBox->currentData().toInt());
    };
    QObject::connect(xBox, &QComboBox::currentIndexChanged, view, pick);
    QObject::connect(yBox, &QComboBox::currentIndexChanged, view, pick);
    QObject::connect(&model, &BenchModel::channelRemoved, window, [window, view](int id) {
        if (id == view->xChannel() || id == view->yChannel()) window->close();
    });
}

void openHistogramWindow(const BenchModel& model, int id, QWidget* parent) {
    auto* view = new BenchHistogramView(model, id);
    view->setObjectName(QStringLiteral("BenchHistogramView"));
    auto* bins = new QSpinBox;
    bins->setObjectName(QStringLiteral("BenchHistogramBins"));
    bins->setRange(0, BenchHistogram::kMaxBins);
    bins->setSpecialValueText(QObject::tr("auto"));
    bins->setToolTip(QObject::tr("The number of bins; auto chooses it from the values"));
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QObject::tr("Bins:")));
    controls->addWidget(bins);
    const ChannelInfo* ch = model.channel(id);
    QWidget* window =
        plotWindow(view, controls, parent, QObject::tr("Histogram of %1").arg(ch ? ch->name : QString()));
    QObject::connect(bins, &QSpinBox::valueChanged, view, &BenchHistogramView::setBinCount);
    QObject::connect(&model, &BenchModel::channelRemoved, window, [window, id](int removed) {
        if (removed == id) window->close();
    });
}
