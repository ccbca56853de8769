// The trend chart in the window: readings through the decoder and pipeline, the toolbar, the
// Graphic menu, the points-per-page edit and saving the picture.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <map>
#include <memory>

#include "ChartPanel.h"
#include "ChartPicture.h"
#include "ChartView.h"
#include "EditErrorNote.h"
#include "FrameEncoder.h"
#include "RecordGrid.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

using namespace dmmsim;

namespace {

// Sends volt readings with the point after the first digit (x.xxx V) as one received chunk.
void receive(TFCOMM& w, std::initializer_list<int> counts, const char* modelName = "KR31E") {
    const SimModel model = *simModelFor(modelName, false);
    std::vector<uint8_t> bytes;
    for (int c : counts) {
        SimReading r;
        r.point = 1;
        r.negative = c < 0;
        const std::string digits =
            QString::number(std::abs(c)).rightJustified(4, QLatin1Char('0')).toStdString();
        for (int i = 0; i < 4; ++i) r.digits[i] = digits[i];
        const auto f = encodeFrame(model, r);
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    w.COMM2().OnReceiveData()(&w.COMM2(), bytes.data(), static_cast<int32_t>(bytes.size()));
}

QList<double> shownValues(TFCOMM& w) {
    QList<double> ys;
    for (const QPointF& p : w.form()->Chtshow->shownPoints()) ys << p.y();
    return ys;
}

}  // namespace

class TstWindowChart : public QObject {
    Q_OBJECT

private slots:
    void startsLikeTheForm() {
        auto w = makeWindow();
        Ui::TFCOMM* ui = w->form();
        QCOMPARE(ui->Maxrecord->text(), QStringLiteral("100"));
        QCOMPARE(ui->Bt10->text(), QStringLiteral("1"));
        QVERIFY(ui->BtFill->isChecked() && ui->Fill->isChecked());
        QCOMPARE(w->chartPoints().activeSeries(), int(ChartPoints::AreaSeries));
        QCOMPARE(w->chartPoints().size(), int64_t(1));
        QCOMPARE(ui->Chtshow->leftAxisMaximum(), 4000.0);
        QCOMPARE(ui->Chtshow->leftAxisMinimum(), -4000.0);
        QStringList menu;
        for (QAction* a : ui->Graphic->actions())
            menu << (a->isSeparator() ? QStringLiteral("-") : a->text().remove('&'));
        QCOMPARE(menu.join(' '), QStringLiteral("First Previous Next Last - New Save - Fill"));
        QCOMPARE(ui->BTlast->toolTip(), QStringLiteral("last"));
        QCOMPARE(ui->Bt10->toolTip(), QStringLiteral("Page No."));
        QCOMPARE(ui->TbFd->toolTip(), QStringLiteral("Graphic Enlarge"));
    }

    // The first reading takes the change branch and restarts the chart; the rest are plotted.
    void readingsArePlotted() {
        auto w = makeWindow();
        receive(*w, {1000, 1234, -2500});
        QCOMPARE(w->chartPoints().size(), int64_t(4));  // the sample point of New and three readings
        QCOMPARE(shownValues(*w), (QList<double>{0, 1000, 1234, -2500}));
        QCOMPARE(w->meterState().ChartFollow, uint8_t(1));
    }

    // Fill from the box or the menu shows the other series with the same points.
    void fillSwitch() {
        auto w = makeWindow();
        Ui::TFCOMM* ui = w->form();
        receive(*w, {1000, 1500, 1600});
        const QList<double> area = shownValues(*w);
        ui->BtFill->click();
        QVERIFY(!ui->Fill->isChecked());
        QCOMPARE(w->chartPoints().activeSeries(), int(ChartPoints::LineSeries));
        QCOMPARE(shownValues(*w), area);
        ui->Fill->trigger();
        QVERIFY(ui->BtFill->isChecked() && ui->Fill->isChecked());
        QCOMPARE(w->chartPoints().activeSeries(), int(ChartPoints::AreaSeries));
        ui->Fill->trigger();
        QVERIFY(!ui->BtFill->isChecked() && !ui->Fill->isChecked());
        QCOMPARE(w->chartPoints().activeSeries(), int(ChartPoints::LineSeries));
    }

    // Pages, page button and button states through the toolbar while readings arrive.
    void pagingThroughTheToolbar() {
        auto w = makeWindow();
        Ui::TFCOMM* ui = w->form();
        QTest::keyClick(ui->Maxrecord, Qt::Key_Backspace);  // "10": ten points a page
        receive(*w, {1000});
        for (int i = 0; i < 24; ++i) receive(*w, {1000 + i});
        QCOMPARE(ui->Bt10->text(), QStringLiteral("3"));
        QCOMPARE(ui->Chtshow->bottomAxisMinimum(), 20.0);
        QCOMPARE(ui->Chtshow->bottomAxisMaximum(), 29.0);
        QCOMPARE(ui->Chtshow->shownPoints().size(), 6);

        ui->BtFirst->click();
        QCOMPARE(ui->Bt10->text(), QStringLiteral("1"));
        QVERIFY(!ui->BtFirst->isEnabled() && !ui->BTPrevious->isEnabled() && ui->BtNext->isEnabled());
        receive(*w, {2000, 2001});
        QCOMPARE(ui->Bt10->text(), QStringLiteral("1"));
        QCOMPARE(ui->Chtshow->bottomAxisMinimum(), 0.0);

        ui->Last->trigger();
        QCOMPARE(ui->Bt10->text(), QStringLiteral("3"));
        QVERIFY(!ui->BtNext->isEnabled() && !ui->BTlast->isEnabled() && ui->BtFirst->isEnabled());
        receive(*w, {2002, 2003, 2004});
        QCOMPARE(ui->Bt10->text(), QStringLiteral("3"));
        receive(*w, {2005});
        QCOMPARE(ui->Bt10->text(), QStringLiteral("4"));
        QCOMPARE(w->meterState().ChartFollow, uint8_t(1));
    }

    void pointsPerPageEdit() {
        auto w = makeWindow();
        Ui::TFCOMM* ui = w->form();
        QTest::keyClicks(ui->Maxrecord, QStringLiteral("x-. "));  // letters, signs and blanks do not get in
        QCOMPARE(ui->Maxrecord->text(), QStringLiteral("100"));
        ui->Maxrecord->setText(QStringLiteral("12a"));
        QCOMPARE(EditErrorNote::text(ui->Maxrecord), QStringLiteral("'12a' is not a valid integer value"));
        QCOMPARE(w->chartPaging().MaxPointsPerPage(), 100);
        ui->Maxrecord->setText(QStringLiteral("-3"));
        QCOMPARE(EditErrorNote::text(ui->Maxrecord), QStringLiteral("MaxPointsPerPage must be >= 0"));
        ui->Maxrecord->setText(QStringLiteral("0"));
        QCOMPARE(w->chartPaging().MaxPointsPerPage(), 0);
        QCOMPARE(EditErrorNote::text(ui->Maxrecord), QString());
    }

    // New empties the series to their sample point and keeps page and follow state.
    void newKeepsThePage() {
        auto w = makeWindow();
        Ui::TFCOMM* ui = w->form();
        ui->Maxrecord->setText(QStringLiteral("2"));
        receive(*w, {1000, 1001, 1002, 1003, 1004, 1005, 1006});
        ui->BtFirst->click();
        ui->BtNext->click();
        ui->BtNew->click();
        QCOMPARE(w->chartPoints().size(), int64_t(1));
        QCOMPARE(ui->Bt10->text(), QStringLiteral("2"));
        QCOMPARE(w->meterState().ChartFollow, uint8_t(0));
        QVERIFY(ui->BtFirst->isEnabled());
        QVERIFY(ui->Chtshow->shownPoints().isEmpty());
    }

    void frequencyAxis() {
        auto w = makeWindow({"--model", "KR31G"});
        QCOMPARE(w->form()->Chtshow->leftAxisMaximum(), 6000.0);
        QCOMPARE(w->form()->Chtshow->leftAxisMinimum(), -6000.0);
    }

    // The picture is written first and only a written file is confirmed, with its real path.
    void savePicture() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        receive(*w, {1000, 2000, 3000});
        const QString path = ChartPicture::defaultPath();
        for (int round = 0; round < 2; ++round) {  // the second save replaces the first
            auto message = answerNextMessageBox();
            w->form()->BtSave->click();
            QCOMPARE(*message, QStringLiteral("graphic has saved on ") + path);
            const QImage saved(path, "BMP");
            QCOMPARE(saved.size(), w->form()->Chtshow->size());
        }

        // a place that cannot be written (a folder of that name): the error, and no confirmation
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("blocked/databmp.bmp")));
        QDir::setCurrent(dir.filePath(QStringLiteral("blocked")));
        const QString blockedPath = ChartPicture::defaultPath();
        auto message = answerNextMessageBox();
        w->BtSaveClick();
        QDir::setCurrent(old);
        QCOMPARE(*message, QStringLiteral("Cannot create file ") + blockedPath);
    }

    // At 19,200 Bd a reading ends every 6 ms. Handed over one by one, each still becomes a point,
    // but the chart is drawn at most 25 times a second (and the page number over it changes twice).
    // Readings at 19,200 Bd: every one is a point and a row, while the chart is drawn at most 25
    // times a second and the face, the bar and the rows about ten times; the last reading is
    // shown by all of them once the stream stops.
    void livePartsRepaintAtTheirRates() {
        auto w = makeWindow({"--model", "KR31G"});
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        struct PaintCounter : QObject {
            std::map<QObject*, int> paints;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::Paint) ++paints[o];
                return false;
            }
        } counter;
        receive(*w, {1000}, "KR31G");
        QTest::qWait(150);
        const std::array<QWidget*, 4> parts = {w->form()->Chtshow->chartView()->viewport(), w->form()->KD1,
                                               w->form()->PBar2, w->form()->DBGrid1->view()->viewport()};
        for (QWidget* part : parts) part->installEventFilter(&counter);
        const int64_t before = w->chartPoints().size();
        QElapsedTimer clock;
        clock.start();
        int frames = 0;
        while (clock.elapsed() < 1000) {
            receive(*w, {1000 + frames % 500}, "KR31G");
            ++frames;
            while (clock.elapsed() < frames * 1000 * 11 / 1920)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        QCOMPARE(w->chartPoints().size(), before + frames);
        const int chart = counter.paints[parts[0]];
        QVERIFY2(chart >= 5 && chart <= 28, qPrintable(QString::number(chart)));
        for (int i = 1; i < 4; ++i) {
            QVERIFY2(counter.paints[parts[i]] <= 13,
                     qPrintable(parts[i]->objectName() + ": " + QString::number(counter.paints[parts[i]])));
        }
        // the stream ends on a reading far from the others, inside the throttle's period: the face
        // and the bar show it when the period ends
        const QImage streamFace = w->form()->KD1->image();
        receive(*w, {3900}, "KR31G");
        QTRY_COMPARE_WITH_TIMEOUT(w->form()->PBar2->value(), 39, 160);
        QVERIFY(w->form()->KD1->image() != streamFace);
        QTest::qWait(150);
        // the same reading again, after a quiet spell, is drawn at once: nothing may change
        const QImage face = w->form()->KD1->image();
        const int bar = w->form()->PBar2->value();
        receive(*w, {3900}, "KR31G");
        QCOMPARE(w->form()->PBar2->value(), bar);
        QCOMPARE(w->form()->KD1->image(), face);
        QCOMPARE(w->form()->DBGrid1->currentRow(), w->recordTable().rowCount() - 1);

        // rows that come after the stream stopped are painted
        QTest::qWait(150);
        const int gridPaints = counter.paints[parts[3]];
        receive(*w, {2345}, "KR31G");
        QTRY_VERIFY_WITH_TIMEOUT(counter.paints[parts[3]] > gridPaints, 300);
        QVERIFY(parts[3]->updatesEnabled());
    }
};

QTEST_MAIN(TstWindowChart)
#include "tst_window_chart.moc"
