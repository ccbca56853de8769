#pragma once

#include <QChartView>
#include <QImage>
#include <vector>

class TracePlot;

// The view of the trend chart: a crosshair over the plot, zoom by dragging a rectangle, and a
// right click that undoes the zoom.
class ChartView : public QChartView {
    Q_OBJECT

public:
    explicit ChartView(QChart* chart, QWidget* parent = nullptr);

    // The curve the chart draws over its plot, above all else. A repaint that lies within the
    // curve's area (the strip new points change) then lays down a picture of the chart without the
    // curve and paints the curve over it, rather than painting the chart's background, grid and
    // axes again. The picture is taken anew when the plot's place, the axes or the view change.
    void setCurve(TracePlot* curve) { curve_ = curve; }

signals:
    // the user zoomed in or undid the zoom
    void zoomChanged();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool paintOverStill(const QRegion& region);
    std::vector<double> stillKey(const QRect& area) const;

    TracePlot* curve_ = nullptr;
    QImage still_;
    std::vector<double> stillKey_;
};
