#pragma once

#include <QWidget>
#include <functional>

class BenchStrips;
class BenchTimeAxis;

// The strips of the bench chart, one below the other over the shared time axis, with the axis'
// labels along the bottom. Each strip is scaled to the values it shows. The wheel zooms in time
// around the moment under the mouse, dragging pans, a double click follows the newest reading again.
class BenchStripView : public QWidget {
public:
    explicit BenchStripView(QWidget* parent = nullptr);

    void setSource(const BenchStrips* strips, BenchTimeAxis* axis);
    // called after the user moved or zoomed the view
    std::function<void()> onViewChanged;

    // the strip's plot area: where its trace is drawn
    QRect plotRect(int strip) const;
    // the smallest height that shows every strip with its scale labels
    int minimumHeightFor(int strips) const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int leftMargin() const;
    int axisHeight() const;
    int plotWidth() const;
    void paintStrip(QPainter& painter, int index, const std::vector<int>& tickColumns);
    void paintAxis(QPainter& painter);
    void viewChanged();

    const BenchStrips* strips_ = nullptr;
    BenchTimeAxis* axis_ = nullptr;
    bool dragging_ = false;
    double dragX_ = 0;
    double dragRest_ = 0;  // the part of a millisecond the drag has moved without panning yet
};
