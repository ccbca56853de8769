#pragma once

#include <QWidget>
#include <vector>

#include "BenchPlots.h"

class BenchModel;
class BenchTimeAxis;

// A plot of the bench drawn by draw(), on the screen and into a PNG or SVG file alike.
class BenchPlotView : public QWidget {
public:
    using QWidget::QWidget;

    // Takes the model's current state in and draws again.
    virtual void refresh() = 0;
    virtual void draw(QPainter& painter, const QRect& area) const = 0;
    // Writes the plot at its size on the screen: SVG for a name ending in .svg, PNG otherwise.
    bool save(const QString& path, QString* error) const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One channel against another, each point a reading of the y channel with the x channel's last
// one, over the stretch of time the bench chart shows. The wheel zooms around the mouse, dragging
// pans, a double click fits the points again: as on the chart.
class BenchXyView : public BenchPlotView {
public:
    BenchXyView(const BenchModel& model, const BenchTimeAxis& axis, QWidget* parent = nullptr);

    void setChannels(int xId, int yId);
    int xChannel() const { return x_; }
    int yChannel() const { return y_; }
    const std::vector<XyPoint>& points() const { return points_; }

    void refresh() override;
    void draw(QPainter& painter, const QRect& area) const override;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QRect plotRect(const QRect& area) const;

    const BenchModel& model_;
    const BenchTimeAxis& axis_;
    int x_ = -1;
    int y_ = -1;
    std::vector<XyPoint> points_;
    XyViewport viewport_;
    bool dragging_ = false;
    QPointF dragFrom_;
};

// The values of a channel since its statistics were reset, in bins chosen by Freedman-Diaconis
// (Sturges where the quartiles are equal) or set by the user.
class BenchHistogramView : public BenchPlotView {
public:
    BenchHistogramView(const BenchModel& model, int id, QWidget* parent = nullptr);

    // 0: chosen from the values
    void setBinCount(int bins);
    const HistogramBins& bins() const { return bins_; }

    void refresh() override;
    void draw(QPainter& painter, const QRect& area) const override;

private:
    const BenchModel& model_;
    int id_;
    int wanted_ = 0;
    HistogramBins bins_;
};

// A window of its own for an XY plot over channel `yId` (the x channel chosen in it) or for the
// histogram of channel `id`, with an Export button; it closes when its channels go.
void openXyWindow(const BenchModel& model, const BenchTimeAxis& axis, int yId, QWidget* parent);
void openHistogramWindow(const BenchModel& model, int id, QWidget* parent);
