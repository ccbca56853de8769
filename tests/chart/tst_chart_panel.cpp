// The chart panel: what Qt Charts is handed for a page, and when it is handed it again.
#include <QApplication>
#include <QChart>
#include <QScreen>
#include <QtTest>

#include "ChartPaging.h"
#include "ChartPanel.h"
#include "ChartPoints.h"
#include "ChartView.h"
#include "PageSampler.h"

namespace {

void addReadings(ChartPoints& p, int64_t n, float y) {
    for (int64_t i = 0; i < n; ++i) {
        p.add(ChartPoints::LineSeries, y);
        p.add(ChartPoints::AreaSeries, y);
    }
}

// 200,000 points swinging between -3000 and 3000, on one page.
struct LongRun {
    ChartPoints points;
    ChartPaging paging;
    ChartPanel panel;

    LongRun() {
        for (int i = 0; i < 200000; ++i) {
            const float y = (i % 2) ? 3000.0f : -3000.0f;
            points.add(ChartPoints::LineSeries, y);
            points.add(ChartPoints::AreaSeries, y);
        }
        paging.setMaxPointsPerPage(0, points.size());
        panel.resize(320, 233);
        panel.attach(&points, &paging);
        panel.show();
        if (!QTest::qWaitForWindowExposed(&panel)) qWarning("the panel was not exposed");
        panel.refresh();
    }
};

}  // namespace

class TstChartPanel : public QObject {
    Q_OBJECT

private slots:
    // Some hundreds of points per pixel column: four points per column, whatever the run's length.
    void longPageIsReduced() {
        LongRun run;
        const int columns = run.panel.plotColumns();
        QVERIFY(columns > 100 && columns < 320);
        QCOMPARE(run.panel.shownPoints().size(), columns * 4);
        QCOMPARE(run.panel.bottomAxisMinimum(), 0.0);
        QCOMPARE(run.panel.bottomAxisMaximum(), 199999.0);
    }

    // New points inside the last column's extremes change no pixel and are not handed over; one
    // beyond them, or a column's worth of points, is.
    void redrawOnlyWhenAPixelChanges() {
        LongRun run;
        const QPointF lastShown = run.panel.shownPoints().last();
        addReadings(run.points, 50, 1000.0f);
        run.panel.pointsAdded();
        run.panel.refresh();
        QCOMPARE(run.panel.shownPoints().last(), lastShown);

        addReadings(run.points, 1, 3500.0f);
        run.panel.pointsAdded();
        run.panel.refresh();
        QCOMPARE(run.panel.shownPoints().last(), QPointF(200050.0, 3500.0));
        addReadings(run.points, 1, -3500.0f);
        run.panel.pointsAdded();
        run.panel.refresh();
        QCOMPARE(run.panel.shownPoints().last(), QPointF(200051.0, -3500.0));

        const QPointF before = run.panel.shownPoints().last();
        addReadings(run.points, 200000 / run.panel.plotColumns() + 1, 0.0f);
        run.panel.pointsAdded();
        run.panel.refresh();
        QVERIFY(run.panel.shownPoints().last() != before);
        QCOMPARE(run.panel.shownPoints().last().y(), 0.0);
    }

    // Points added one at a time repaint only the strip they change, over a picture of the chart
    // without the curve; what is then on screen is what a full repaint of the same points draws,
    // line and area alike, also after the axes changed.
    void partialRepaintMatchesAFullOne_data() {
        QTest::addColumn<int>("series");
        QTest::newRow("area") << int(ChartPoints::AreaSeries);
        QTest::newRow("line") << int(ChartPoints::LineSeries);
    }
    void partialRepaintMatchesAFullOne() {
        QFETCH(int, series);
        ChartPoints points;
        points.sampleFill();
        points.setActiveSeries(series);
        addReadings(points, 205, 500.0f);
        ChartPaging paging;
        paging.followLastPage(points.activeCount());
        ChartPanel panel;
        panel.resize(320, 233);
        panel.attach(&points, &paging);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.refresh();
        QTest::qWait(50);
        QWidget* viewport = panel.chartView()->viewport();
        auto onScreen = [&] { return panel.screen()->grabWindow(panel.winId()).toImage(); };
        for (int i = 0; i < 40; ++i) {
            // the grid under the strips moves with the left axis
            if (i == 20) panel.setLeftAxis(6000, -6000);
            addReadings(points, 1, i % 3 == 0 ? 3000.0f - 40 * i : -1500.0f + 25 * i);
            paging.followLastPage(points.activeCount());
            panel.pointsAdded();
            panel.refresh();
            QTest::qWait(5);
        }
        QCOMPARE(panel.bottomAxisMinimum(), 200.0);  // all on the same page
        QTest::qWait(50);
        const QImage partly = onScreen();
        viewport->update();
        QTest::qWait(50);
        const QImage whole = onScreen();
        QVERIFY(!whole.isNull());
        QCOMPARE(partly, whole);

        // the curve is drawn anew on the same page: nothing of the old one stays on screen
        points.clear();
        addReadings(points, 205, -2500.0f);
        paging.followLastPage(points.activeCount());
        panel.invalidate();
        panel.refresh();
        QTest::qWait(50);
        const QImage renewed = onScreen();
        viewport->update();
        QTest::qWait(50);
        QCOMPARE(renewed, onScreen());
    }

    // Where the meter was away the curve stops: between the last point before the break and the
    // first after it the chart shows what it shows with only the points before (line and area),
    // where without the break a line crosses. A page reduced to columns parts its column there.
    void breakLeavesAGap_data() { partialRepaintMatchesAFullOne_data(); }
    void breakLeavesAGap() {
        QFETCH(int, series);
        const auto draw = [series](int n, bool broken) {
            ChartPoints points;
            points.setActiveSeries(series);
            for (int i = 0; i < n; ++i) {
                if (i == 5 && broken) points.breakLine();
                addReadings(points, 1, i < 5 ? -2000.0f : 2500.0f);
            }
            ChartPaging paging;
            paging.setMaxPointsPerPage(10, points.size());
            ChartPanel panel;
            panel.resize(320, 233);
            panel.attach(&points, &paging);
            const QImage image = panel.picture();
            const QPointF a = panel.chart()->mapToPosition(QPointF(4, 0)) + panel.chartView()->pos();
            const QPointF b = panel.chart()->mapToPosition(QPointF(5, 0)) + panel.chartView()->pos();
            return image.copy(QRect(qRound(a.x()) + 2, 0, qRound(b.x() - a.x()) - 4, image.height()));
        };
        const QImage before = draw(5, false);
        QVERIFY(before.width() > 10);
        QCOMPARE(draw(10, true), before);
        QVERIFY(draw(10, false) != before);

        ChartPoints points;
        addReadings(points, 1010, 1.0f);
        points.breakLine();
        addReadings(points, 1000, 2.0f);
        QList<QPointF> line, fill;
        PageSampler::sample(points, 0, points.size(), 100, line, &fill);
        for (const QList<QPointF>* shown : {&line, &fill}) {
            const auto gap = std::find_if(shown->begin(), shown->end(), PageSampler::isGap);
            QCOMPARE(std::count_if(shown->begin(), shown->end(), PageSampler::isGap), 1);
            QVERIFY(gap != shown->begin() && gap + 1 != shown->end());
            QCOMPARE(*(gap - 1), QPointF(1009, 1));
            QCOMPARE(*(gap + 1), QPointF(1010, 2));
        }
    }

    // A short page is handed over point by point, on the axis of a full page.
    void shortPageAsItIs() {
        ChartPoints points;
        points.sampleFill();
        addReadings(points, 249, 42.0f);
        ChartPaging paging;
        paging.followLastPage(points.activeCount());
        ChartPanel panel;
        panel.resize(320, 233);
        panel.attach(&points, &paging);
        panel.refresh();
        QCOMPARE(panel.shownPoints().size(), 50);
        QCOMPARE(panel.bottomAxisMinimum(), 200.0);
        QCOMPARE(panel.bottomAxisMaximum(), 299.0);
        // the picture has the panel's size; the minor ticks draw no lines across the plot
        const QImage picture = panel.picture();
        QCOMPARE(picture.size(), panel.size());
        const QPointF minor =
            panel.chart()->mapToPosition(QPointF(250, 2050 + 410)) + panel.chartView()->pos();
        const int row = qRound(minor.y());
        int marked = 0;
        for (int x = qRound(panel.chart()->plotArea().left()) + 20; x < qRound(minor.x()) - 20; ++x)
            marked += std::abs(qBlue(picture.pixel(x, row)) - qBlue(picture.pixel(x, row + 3))) > 20 ? 1 : 0;
        QCOMPARE(marked, 0);

        // a zoom ends with its page: the page before is shown whole
        panel.chart()->zoomIn(QRectF(panel.chart()->plotArea().center(), QSizeF(20, 20)));
        panel.invalidate();
        panel.refresh();
        QVERIFY(panel.bottomAxisMinimum() > 200.0);
        uint8_t follow = 1;
        paging.previous(points.activeCount(), follow);
        panel.invalidate();
        panel.refresh();
        QCOMPARE(panel.bottomAxisMinimum(), 100.0);
        QCOMPARE(panel.bottomAxisMaximum(), 199.0);
        QCOMPARE(panel.shownPoints().size(), 100);
    }
};

QTEST_MAIN(TstChartPanel)
#include "tst_chart_panel.moc"
