#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QTimer>

class ChartPoints;
class ChartPaging;
class ChartView;
class QChart;
class QGraphicsRectItem;
class QLineSeries;
class QValueAxis;
class TracePlot;

// The trend chart `Chtshow`: a framed panel holding the chart, with the toolbar controls of the
// form on top of it. It draws what the point store and the paging say and keeps no data of its
// own: the visible page, reduced to the plot's pixel columns when it holds more points than that,
// is all the chart is handed, and only for the series shown. Qt Charts draws the background, the
// grid and the axes; the curve is drawn by a plot item of our own (TracePlot), which repaints only
// the plot area. Changes are collected and handed over by refresh(), which the window calls once
// per received chunk and after every command; the chart is drawn at most every kMinRedrawMs.
class ChartPanel : public QFrame {
    Q_OBJECT

public:
    // a trend reads well at 25 pictures a second, and points come faster than that at 19,200 Bd
    static constexpr int kMinRedrawMs = 40;
    // A drawing that moves the horizontal axis repaints the whole chart, labels and grid
    // included. A page of all points moves it with every point, by less than a pixel once the
    // page is long, so such drawings wait longer.
    static constexpr int kMinAxisRedrawMs = 100;

    explicit ChartPanel(QWidget* parent = nullptr);
    ~ChartPanel() override;

    void attach(const ChartPoints* points, const ChartPaging* paging);
    // Puts the glyphs on the toolbar buttons the form placed on the panel.
    void decorateToolbar();

    // vertical axis: a fixed range
    void setLeftAxis(double maximum, double minimum);
    double leftAxisMaximum() const;
    double leftAxisMinimum() const;

    // The page, the series shown or the points on the page changed: the chart is drawn again at
    // the next refresh().
    void invalidate() { dirty_ = redrawAll_ = true; }
    // Points were added at the end. On a page reduced to pixel columns a few new points move
    // nothing by a pixel unless they reach beyond the last column's extremes, so drawing waits
    // until they do or until a column's worth of points has come in.
    void pointsAdded() { dirty_ = true; }
    bool isDirty() const { return dirty_; }
    // Hands the chart the visible page if anything changed since the last time: at once when the
    // last drawing is kMinRedrawMs (kMinAxisRedrawMs) old, otherwise when it will be.
    void refresh();

    // the chart's picture at the panel's current size, frame included, without the toolbar
    QImage picture();

    // What the chart was handed, and the horizontal axis' span (for tests and benchmarks), with
    // the drawing that waits for its turn done first.
    const QList<QPointF>& shownPoints();
    double bottomAxisMinimum();
    double bottomAxisMaximum();
    int plotColumns() const;
    QChart* chart() const { return chart_; }
    ChartView* chartView() const { return view_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildChart();
    void draw();
    void placeWalls();
    void setBottomAxis(double minimum, double maximum);
    bool newPointsChangeNothing() const;
    bool axisWillMove() const;
    void showHint(const QPointF& point, bool entered);
    void placeTrace();
    void zoomedByUser();

    const ChartPoints* points_ = nullptr;
    const ChartPaging* paging_ = nullptr;
    ChartView* view_ = nullptr;
    QChart* chart_ = nullptr;
    // An empty series bound to both axes: zooming works on the ranges of the chart's series.
    QLineSeries* axesSeries_ = nullptr;
    TracePlot* trace_ = nullptr;
    QList<QPointF> fill_;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    QGraphicsRectItem* leftWall_ = nullptr;
    QGraphicsRectItem* bottomWall_ = nullptr;
    QList<QPointF> shown_;
    int shownPage_ = 0;
    bool dirty_ = true;
    bool redrawAll_ = true;
    bool drawing_ = false;
    QTimer redraw_;
    QElapsedTimer sinceDrawn_;
    // the page as last drawn, when it was reduced to pixel columns
    int64_t drawnEnd_ = 0;
    int drawnColumns_ = 0;
    double drawnPerColumn_ = 0;
    float lastColumnMin_ = 0;
    float lastColumnMax_ = 0;
};
