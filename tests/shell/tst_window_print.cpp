// The Print button above the grid and the preview it opens.
#include <QApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "RecordSnapshot.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

namespace {

// Closes the next preview that opens; the number of pages it showed lands in the returned value.
std::shared_ptr<int> closeNextPreview() {
    auto pages = std::make_shared<int>(-1);
    QTimer::singleShot(0, [pages] {
        auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        if (auto* widget = dialog->findChild<QPrintPreviewWidget*>()) *pages = widget->pageCount();
        dialog->reject();
    });
    return pages;
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

    void clickOpensThePreview() {
        auto w = makeWindow();
        w->show();
        const auto pages = closeNextPreview();
        w->form()->BtPrint->click();
        QCOMPARE(*pages, 0);  // the window has no rows of its own yet
    }

    void previewOfRows() {
        auto w = makeWindow();
        w->show();
        RecordSnapshot rows;
        for (int i = 0; i < 40; ++i)
            rows.append(RecordRow{i + 1, 1000 * i, "DC", "1.234", "k*", "AUTO", 1234});
        const auto pages = closeNextPreview();
        w->BtPrintClick(rows);
        QCOMPARE(*pages, 2);
    }
};

QTEST_MAIN(WindowPrint)
#include "tst_window_print.moc"
