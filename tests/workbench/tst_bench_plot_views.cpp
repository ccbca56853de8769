// The XY and histogram views drawn into files: a PNG of the view's size and an SVG, from a model
// fed here.
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "BenchModel.h"
#include "BenchPlotViews.h"
#include "BenchTimeAxis.h"

class TstBenchPlotViews : public QObject {
    Q_OBJECT

private slots:
    void viewsExportPngAndSvg_data() {
        QTest::addColumn<bool>("xy");
        QTest::addColumn<QString>("name");
        QTest::newRow("XY as PNG") << true << "xy.png";
        QTest::newRow("XY as SVG") << true << "xy.svg";
        QTest::newRow("histogram as PNG") << false << "histogram.png";
        QTest::newRow("histogram as SVG") << false << "histogram.svg";
    }
    void viewsExportPngAndSvg() {
        QFETCH(bool, xy);
        QFETCH(QString, name);
        BenchModel model;
        const int u = model.addMeter(QStringLiteral("U"));
        const int i = model.addMeter(QStringLiteral("I"));
        const int64_t t0 = 1'780'000'000'000;
        for (int k = 0; k < 200; ++k) {
            BenchReading r;
            r.timeMs = t0 + 100 * k;
            r.unit = QStringLiteral("V");
            r.value = 0.005 * k;
            model.addReading(u, r);
            r.timeMs += 20;
            r.unit = QStringLiteral("A");
            r.value = 1e-6 * std::expm1(0.005 * k * 12);  // a diode's curve
            model.addReading(i, r);
        }
        BenchTimeAxis axis;
        axis.setLatest(t0 + 20'000);
        axis.show(t0, t0 + 20'000);
        BenchXyView xyView(model, axis);
        xyView.setChannels(u, i);
        BenchHistogramView histogram(model, i);
        histogram.refresh();
        BenchPlotView& view = xy ? static_cast<BenchPlotView&>(xyView) : histogram;
        view.resize(500, 360);
        QCOMPARE(int(xyView.points().size()), 200);
        QCOMPARE(histogram.bins().total, uint64_t(200));

        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QString error;
        QVERIFY2(view.save(path, &error), qPrintable(error));
        if (name.endsWith(QStringLiteral(".png"))) {
            const QImage image(path);
            QCOMPARE(image.size(), QSize(500, 360));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray svg = file.readAll();
            QVERIFY(svg.contains("<svg") && svg.contains("</svg>"));
        }
        QVERIFY(!view.save(dir.filePath(QStringLiteral("no/such/folder/") + name), &error));
        QVERIFY(error.contains(QStringLiteral("no/such/folder")));
    }
};

QTEST_MAIN(TstBenchPlotViews)
#include "tst_bench_plot_views.moc"
