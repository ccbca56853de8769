#pragma once

#include <QChartView>

// The view of the trend chart: a crosshair over the plot, zoom by dragging a rectangle, and a
// right click that undoes the zoom.
class ChartView : public QChartView {
    Q_OBJECT

public:
    explicit ChartView(QChart* chart, QWidget* parent = nullptr);

signals:
    // the user zoomed in or undid the zoom
    void zoomChanged();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
