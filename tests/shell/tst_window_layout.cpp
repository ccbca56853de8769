// The window layout rules on sizes, then in the window: resize, enlarge and restore the chart.
#include <QCheckBox>
#include <QHeaderView>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "ChartPanel.h"
#include "RecordGrid.h"
#include "ScaleImageWidget.h"
#include "TFCOMM.h"
#include "WindowLayout.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

using namespace WindowLayoutRules;

class TstWindowLayout : public QObject {
    Q_OBJECT

private slots:
    void resizeRules_data() {
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QRect>("kd");
        QTest::addColumn<int>("kd2Height");
        QTest::addColumn<QRect>("chart");
        QTest::addColumn<int>("gridHeight");
        QTest::addColumn<int>("exitLeft");
        QTest::addColumn<int>("conLeft");

        // the stored client size: within a few pixels of the form
        QTest::newRow("stored size") << QSize(623, 455) << QRect(290, 31, 320, 136) << 130
                                     << QRect(292, 174, 321, 224) << 144 << 543 << 433;
        QTest::newRow("larger") << QSize(1000, 700) << QRect(290, 31, 697, 227) << 221
                                << QRect(292, 265, 698, 374) << 389 << 920 << 810;
        // 0.37 x 350 and 0.61 x 350 are 129.5 and 213.5 in single precision: halves go to even
        QTest::newRow("halves up to even") << QSize(700, 437) << QRect(290, 31, 397, 130) << 124
                                           << QRect(292, 168, 398, 214) << 126 << 620 << 510;
        // 166.5 and 274.5: halves down to even
        QTest::newRow("halves down to even") << QSize(700, 537) << QRect(290, 31, 397, 166) << 160
                                             << QRect(292, 204, 398, 274) << 226 << 620 << 510;
    }

    void resizeRules() {
        QFETCH(QSize, outer);
        WindowLayout layout;
        FormResize(layout, outer);
        QTEST(layout.KD, "kd");
        QTEST(layout.KD2.height(), "kd2Height");
        QCOMPARE(layout.KD2.width(), outer.width() - 305);
        QTEST(layout.Chtshow, "chart");
        QTEST(layout.DBGrid1.height(), "gridHeight");
        QCOMPARE(layout.DBGrid1.top(), 255);
        QTEST(layout.BtExitLeft, "exitLeft");
        QTEST(layout.BTConLeft, "conLeft");
        QCOMPARE(layout.BtDisconLeft, layout.BTConLeft);
    }

    void enlargeThenRestore() {
        WindowLayout layout;
        FormResize(layout, {623, 455});
        const QRect before = layout.Chtshow;
        TbFdClick(layout, {623, 455});
        QCOMPARE(layout.Chtshow, QRect(2, 28, 611, 370));
        QVERIFY(!layout.TbFdVisible && layout.TbSxVisible);
        QCOMPARE(layout.saved.ChartSavedTop, before.top());
        QCOMPARE(layout.saved.ChartSavedWidth, before.width());
        TbFdClick(layout, {623, 455});
        QCOMPARE(layout.Chtshow, before);
        QVERIFY(layout.TbFdVisible && !layout.TbSxVisible);
    }

    // A resize ends the enlargement first, then lays the chart out for the new size.
    void enlargeThenResize() {
        WindowLayout layout;
        FormResize(layout, {623, 455});
        TbFdClick(layout, {623, 455});
        FormResize(layout, {800, 600});
        QVERIFY(layout.TbFdVisible && !layout.TbSxVisible);
        QCOMPARE(layout.Chtshow, QRect(292, 228, 498, 313));
    }

    // So low that the chart's top lies above 100: the chart keeps its left edge at every resize,
    // an enlargement there is ended by the next resize, and a tall window lays it out again.
    void windowTooLow() {
        WindowLayout layout;
        FormResize(layout, {623, 240});
        QCOMPARE(layout.KD.height(), 57);
        QCOMPARE(layout.Chtshow, QRect(292, 95, 321, 93));
        FormResize(layout, {623, 240});
        QCOMPARE(layout.Chtshow, QRect(292, 95, 321, 93));
        TbFdClick(layout, {623, 240});
        QCOMPARE(layout.Chtshow, QRect(2, 28, 611, 155));
        FormResize(layout, {623, 240});
        QCOMPARE(layout.Chtshow, QRect(292, 95, 321, 93));
        QVERIFY(layout.TbFdVisible && !layout.TbSxVisible);
        FormResize(layout, {623, 455});
        QCOMPARE(layout.Chtshow, QRect(292, 174, 321, 224));
    }

    // The window itself: opens with the layout of its size, centred; the image buttons enlarge
    // and restore the chart; a resize puts it back in place.
    void inTheWindow() {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        Ui::TFCOMM* ui = w->form();
        QCOMPARE(ui->Chtshow->geometry(), QRect(292, 174, 321, 224));
        QCOMPARE(ui->KD->geometry(), QRect(290, 31, 320, 136));
        QCOMPARE(ui->BtExit->x(), 543);
        if (const QScreen* s = w->screen()) {
            QVERIFY(qAbs(w->geometry().center().x() - s->availableGeometry().center().x()) <= 2);
        }

        QTest::mouseClick(ui->TbFd, Qt::LeftButton);
        QCOMPARE(ui->Chtshow->geometry(), QRect(2, 28, 611, 370));
        QVERIFY(ui->TbFd->isHidden() && !ui->TbSx->isHidden());
        QTest::mouseClick(ui->TbSx, Qt::LeftButton);
        QCOMPARE(ui->Chtshow->geometry(), QRect(292, 174, 321, 224));
        QVERIFY(!ui->TbFd->isHidden() && ui->TbSx->isHidden());

        QTest::mouseClick(ui->TbFd, Qt::LeftButton);
        w->resize(w->width() + 100, w->height() + 50);
        QTRY_COMPARE(ui->Chtshow->geometry(), QRect(292, 193, 421, 255));
        QVERIFY(!ui->TbFd->isHidden() && ui->TbSx->isHidden());
        QCOMPARE(ui->KD1->image().size(), ui->KD->size() - QSize(4, 4));  // the face drawn anew
        QCOMPARE(ui->KD2->geometry(), QRect(294, 39, ui->KD->width() - 2, ui->KD->height() - 6));

        // the window shrinks no further than its controls allow: the chart's toolbar whole, four
        // grid rows under the titles, a face to draw on, the top-right buttons clear of the rest
        w->resize(300, 150);
        QTRY_COMPARE(w->centralWidget()->size(), kMinimumClientSize);
        QVERIFY(ui->Chtshow->contentsRect().contains(ui->TbFd->geometry()));
        const QTableView* grid = ui->DBGrid1->view();
        QVERIFY(grid->viewport()->height() >= 4 * grid->verticalHeader()->defaultSectionSize());
        QVERIFY(ui->KD->height() > 60 && ui->Chtshow->y() > 100);
        QVERIFY(ui->BTCon->x() > ui->BtCOM1->geometry().right() && ui->BtExit->geometry().right() < 609);
    }
};

QTEST_MAIN(TstWindowLayout)
#include "tst_window_layout.moc"
