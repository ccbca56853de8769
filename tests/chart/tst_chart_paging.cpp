// Paging of the trend chart driven the way the reading pipeline and the toolbar drive it.
#include <QtTest>

#include "ChartPaging.h"
#include "ChartPoints.h"

namespace {

// The point store, the paging and the follow flag, with the pipeline's order of calls: the line
// series gets the point, the page follows, then the area series gets it.
struct Chart {
    ChartPoints points;
    ChartPaging paging;
    uint8_t follow = 1;

    explicit Chart(bool fill) {
        points.sampleFill();
        points.setActiveSeries(fill ? ChartPoints::AreaSeries : ChartPoints::LineSeries);
    }
    void reading(float y) {
        points.add(ChartPoints::LineSeries, y);
        if (follow == 1) paging.followLastPage(points.activeCount());
        points.add(ChartPoints::AreaSeries, y);
    }
    // Runs a script of words: "r<n>" n readings, "pp<n>" points per page, first, prev, next,
    // last, new.
    void run(const QString& script) {
        for (const QString& word : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int64_t n = points.activeCount();
            if (word.startsWith(QLatin1String("pp"))) {
                QVERIFY(paging.applyMaxrecordText(word.mid(2), n));
            } else if (word.startsWith(QLatin1Char('r'))) {
                for (int i = word.mid(1).toInt(); i > 0; --i) reading(float(i));
            } else if (word == QLatin1String("first")) {
                paging.first(follow);
            } else if (word == QLatin1String("prev")) {
                paging.previous(n, follow);
            } else if (word == QLatin1String("next")) {
                paging.next(n, follow);
            } else if (word == QLatin1String("last")) {
                paging.last(n, follow);
            } else if (word == QLatin1String("new")) {
                points.sampleFill();
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown word ") + word));
            }
        }
    }
};

QString buttonText(const ChartButtons& b) {
    return QString::fromLatin1("%1%2%3%4")
        .arg(b.first ? 'F' : '-')
        .arg(b.previous ? 'P' : '-')
        .arg(b.next ? 'N' : '-')
        .arg(b.last ? 'L' : '-');
}

}  // namespace

class TstChartPaging : public QObject {
    Q_OBJECT

private slots:
    void navigation_data() {
        QTest::addColumn<bool>("fill");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("buttons");  // F P N L enabled, '-' disabled
        QTest::addColumn<int>("follow");
        QTest::addColumn<int>("shown");  // points on the page in view

        // 249 readings after the sample point: 250 points, 3 pages, the last one half full
        QTest::newRow("250 at 100: following") << true << "r249" << 3 << "3"
                                               << "FPNL" << 1 << 50;
        QTest::newRow("250 at 100: last") << true << "r249 first last" << 3 << "3"
                                          << "FP--" << 1 << 50;
        QTest::newRow("one page: next at once") << true << "pp0 r249 next" << 1 << "1"
                                                << "FP--" << 0 << 250;
        QTest::newRow("previous on page 1") << true << "r249 first prev" << 1 << "1"
                                            << "--NL" << 0 << 100;
        QTest::newRow("previous on page 3") << true << "r249 prev" << 2 << "2"
                                            << "FPNL" << 0 << 100;
        QTest::newRow("previous onto page 1") << true << "r249 prev prev" << 1 << "1"
                                              << "FPNL" << 0 << 100;
        QTest::newRow("next onto the last page") << true << "r249 first next next" << 3 << "3"
                                                 << "FPNL" << 0 << 50;
        QTest::newRow("next at the last page") << true << "r249 first next next next" << 3 << "3"
                                               << "FP--" << 0 << 50;
        QTest::newRow("first stops following") << true << "r249 first r200" << 1 << "1"
                                               << "--NL" << 0 << 100;
        QTest::newRow("last follows again") << true << "r249 first r200 last r100" << 6 << "6"
                                            << "FP--" << 1 << 50;
        // the area series gets its 101st point after the page was followed
        QTest::newRow("fill: 101st point") << true << "r100" << 1 << "1"
                                           << "FPNL" << 1 << 100;
        QTest::newRow("fill: 102nd point") << true << "r101" << 2 << "2"
                                           << "FPNL" << 1 << 2;
        QTest::newRow("line: 101st point") << false << "r100" << 2 << "2"
                                           << "FPNL" << 1 << 1;
        // New keeps page, caption, buttons and following until the next move
        QTest::newRow("new while browsing") << true << "r499 first next next next new" << 4 << "4"
                                            << "FPNL" << 0 << 0;
        QTest::newRow("new, then a reading") << true << "r499 first next next next new r1" << 4 << "4"
                                             << "FPNL" << 0 << 0;
        // Previous after New goes back from a page beyond the new end to the last page
        QTest::newRow("new, then previous") << true << "pp2 r7 first next next next new r3 prev" << 2 << "2"
                                            << "FPNL" << 0 << 2;
        QTest::newRow("new, then last") << true << "r499 last new r1 last" << 1 << "1"
                                        << "FP--" << 1 << 2;
        // more points per page move a page beyond the end back to the last one; the caption stays
        QTest::newRow("page clamped") << true << "r499 first next next next pp250" << 2 << "4"
                                      << "FPNL" << 0 << 250;
    }

    void navigation() {
        QFETCH(bool, fill);
        QFETCH(QString, script);
        Chart chart(fill);
        chart.run(script);
        QTEST(chart.paging.Page(), "page");
        QTEST(chart.paging.pageCaption(), "caption");
        QTEST(buttonText(chart.paging.buttons()), "buttons");
        QTEST(int(chart.follow), "follow");
        QTEST(int(chart.paging.view(chart.points.activeCount()).count), "shown");
    }

    // The last page is drawn at the scale of a full one.
    void lastPageAxis() {
        Chart chart(true);
        chart.run("r249 last");
        const PageView v = chart.paging.view(chart.points.activeCount());
        QCOMPARE(v.first, int64_t(200));
        QCOMPARE(v.axisMin, 200.0);
        QCOMPARE(v.axisMax, 299.0);
        chart.run("pp0");
        const PageView all = chart.paging.view(chart.points.activeCount());
        QCOMPARE(all.first, int64_t(0));
        QCOMPARE(all.axisMax, 249.0);
    }

    void pointsPerPageText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("perPage");
        QTest::newRow("number") << "250"
                                << "" << 250;
        QTest::newRow("zero") << "0"
                              << "" << 0;
        QTest::newRow("empty") << ""
                               << "'' is not a valid integer value" << 100;
        QTest::newRow("letters") << "1a"
                                 << "'1a' is not a valid integer value" << 100;
        QTest::newRow("too big") << "99999999999"
                                 << "'99999999999' is not a valid integer value" << 100;
        QTest::newRow("negative") << "-5"
                                  << "MaxPointsPerPage must be >= 0" << 100;
        QTest::newRow("blanks around") << " 250 "
                                       << "" << 250;
        QTest::newRow("plus") << "+7"
                              << "" << 7;
        QTest::newRow("sign alone") << "-"
                                    << "'-' is not a valid integer value" << 100;
        QTest::newRow("sign inside") << "2-5"
                                     << "'2-5' is not a valid integer value" << 100;
        // found by fuzzing: the digits before a null character were taken as the number
        QFile found(QStringLiteral(DMM_TEST_DATA_DIR "/fuzz/texts/perpage_embedded_null"));
        QVERIFY(found.open(QIODevice::ReadOnly));
        const QString withNull = QString::fromUtf8(found.readAll().mid(1));
        QVERIFY(withNull.contains(QChar(0)));
        QTest::newRow("null inside") << withNull
                                     << QStringLiteral("'%1' is not a valid integer value").arg(withNull)
                                     << 100;
    }

    void pointsPerPageText() {
        QFETCH(QString, text);
        QFETCH(QString, error);
        ChartPaging paging;
        paging.setPage(3, 1000);
        QString got;
        QCOMPARE(paging.applyMaxrecordText(text, 1000, &got), error.isEmpty());
        QCOMPARE(got, error);
        QTEST(paging.MaxPointsPerPage(), "perPage");
        if (!error.isEmpty()) QCOMPARE(paging.Page(), 3);
    }

    void pageClamping() {
        ChartPaging paging;
        paging.setPage(0, 250);
        QCOMPARE(paging.Page(), 1);
        paging.setPage(7, 250);
        QCOMPARE(paging.Page(), 3);
        QCOMPARE(paging.pageCount(0), 1);
        QCOMPARE(paging.pageCount(101), 2);
        // a run of a day at the fast line rate, one point a page
        QVERIFY(paging.setMaxPointsPerPage(1, 15'000'000));
        QCOMPARE(paging.pageCount(15'000'000), 15'000'000);
    }
};

QTEST_GUILESS_MAIN(TstChartPaging)
#include "tst_chart_paging.moc"
