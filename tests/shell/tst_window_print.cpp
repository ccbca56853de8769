// The Print button above the grid and the preview it opens.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>

#include "RecordTable.h"
#include "ReportLayout.h"
#include "ReportPageView.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

namespace {

// Runs `check` on the next preview that opens, then closes it with Escape.
void onNextPreview(const std::function<void(QDialog*, ReportPageView*)>& check) {
    QTimer::singleShot(0, [check] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != "ReportPreview") return;
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        check(dialog, dialog->findChild<ReportPageView*>());
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
}

QAction* action(QDialog* dialog, const char* name) {
    return dialog->findChild<QAction*>(name);
}

}  // namespace

class WindowPrint : public QObject {
    Q_OBJECT

private slots:
    void button() {
        auto w = makeWindow();
        QToolButton* b = w->form()->BtPrint;
        QCOMPARE(b->geometry(), QRect(266, 234, 22, 21));
        QCOMPARE(b->toolTip(), QString("Print"));
        QCOMPARE(b->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!b->icon().isNull());
    }

    // Without rows the preview opens at its full size, whole toolbar in view, and has nothing to
    // print or save.
    void emptyTable() {
        auto w = makeWindow();
        w->show();
        int pages = -1;
        onNextPreview([&](QDialog* dialog, ReportPageView* view) {
            pages = view->pageCount();
            auto* bar = dialog->findChild<QToolBar*>();
            QCOMPARE(dialog->size(), QSize(900, 700).boundedTo(dialog->screen()->availableSize()));
            QVERIFY(bar->width() >= bar->sizeHint().width());
            QVERIFY(!action(dialog, "print")->isEnabled());
            QVERIFY(!action(dialog, "savePdf")->isEnabled());
        });
        w->form()->BtPrint->click();
        QCOMPARE(pages, 0);
    }

    // End goes to the last page at once, and Next then Previous from there to the page before
    // it; Fit page shows a whole page within the view's height; rows recorded, New and Open while
    // the preview is open leave its pages as they were.
    void lastPageOfALongTable() {
        auto w = makeWindow();
        w->show();
        RecordTable& table = w->recordTable();
        for (int i = 0; i < 100000; ++i)
            table.append(RecordRow{i + 1, 1000 * i, "DC", "1.234", "k*", "AUTO", 1234});
        QString firstNo, pageBox, backBox;
        int pages = -1;
        bool wholePage = false;
        onNextPreview([&](QDialog* dialog, ReportPageView* view) {
            table.append(RecordRow{100001, 0, "DC", "9.999", "V", "AUTO", 9999});
            table.empty();
            QTest::keyClick(view, Qt::Key_End);
            pages = view->pageCount();
            pageBox = dialog->findChild<QSpinBox*>("pageBox")->text();
            firstNo = view->layout().pageTexts(view->currentPage()).at(7).text;
            QTest::keyClick(view, Qt::Key_PageDown);
            QTest::keyClick(view, Qt::Key_PageUp);
            backBox = dialog->findChild<QSpinBox*>("pageBox")->text();

            // a whole page: grey above and below it in the middle column, white between
            for (QAction* a : dialog->findChildren<QAction*>())
                a->text() == "Fit page" ? a->trigger() : void();
            view->goToPage(5);
            const QImage shown = view->viewport()->grab().toImage();
            auto white = [&](int y) { return shown.pixel(shown.width() / 2, y) == qRgb(255, 255, 255); };
            wholePage = !white(0) && !white(shown.height() - 1) && white(shown.height() / 2);
        });
        w->form()->BtPrint->click();
        QCOMPARE(pages, 2703);
        QCOMPARE(pageBox, QString("2703"));
        QCOMPARE(firstNo, QString("99975"));
        QCOMPARE(backBox, QString("2702"));
        QVERIFY(wholePage);
    }
};

QTEST_MAIN(WindowPrint)
#include "tst_window_print.moc"
