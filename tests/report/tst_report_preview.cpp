// The print preview: pages of the moment it opened, its page range, and its "Save as PDF" action.
#include <QAction>
#include <QDialog>
#include <QFile>
#include <QPrinter>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "ReportPageView.h"
#include "ReportPdfReader.h"
#include "ReportPreview.h"

namespace {

int previewPages(ReportPreview& preview) {
    preview.dialog()->show();
    return preview.view()->pageCount();
}

}  // namespace

class ReportPreviewTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheRowsOfItsMoment() {
        VectorSource table = sampleTable(37);
        ReportPreview preview(table);
        for (int i = 37; i < 80; ++i) table.rows.push_back(sampleRow(i));  // readings keep arriving
        QCOMPARE(previewPages(preview), 1);
        QCOMPARE(preview.rows().rowCount(), 37);
        QVERIFY(preview.savePdfAction()->isEnabled());
        QVERIFY(preview.dialog()->findChild<QToolBar*>()->actions().contains(preview.savePdfAction()));

        // the PDF holds the same rows, and gets its extension when the name has none
        QTemporaryDir dir;
        preview.chooseFile = [&](QWidget*) { return dir.filePath("run1"); };
        preview.savePdfAction()->trigger();
        const std::vector<PdfPage> pages = readPdfWords(dir.filePath("run1.pdf"));
        QCOMPARE(int(pages.size()), 1);
        QVERIFY(pages[0].find("37"));
        QVERIFY(!pages[0].find("38"));

        // the file is the one the command line writes of the same rows, apart from its date
        table.rows.resize(37);
        QVERIFY(writeReportPdf(table, dir.filePath("cli.pdf")).written);
        auto undated = [&](const char* name) {
            QFile f(dir.filePath(name));
            QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            const qsizetype at = bytes.indexOf("/CreationDate");
            return at < 0 ? bytes : bytes.remove(at, bytes.indexOf(')', at) - at);
        };
        QCOMPARE(undated("run1.pdf"), undated("cli.pdf"));
    }

    // A long save shows its progress; its Cancel leaves the file that was there as it was.
    void longSaveCanBeCancelled() {
        const VectorSource table = sampleTable(37 * 3000);
        ReportPreview preview(table);
        QTemporaryDir dir;
        const QString path = dir.filePath("r.pdf");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier") == 7);
        old.close();
        preview.chooseFile = [&](QWidget*) { return path; };
        bool seen = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* progress = preview.dialog()->findChild<QProgressDialog*>();
            if (!progress || !progress->isVisible()) return;
            seen = true;
            progress->cancel();
        });
        poll.start(20);
        preview.savePdfAction()->trigger();
        QVERIFY(seen);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("earlier"));
    }

    void emptyTableHasNoPages() {
        VectorSource none;
        ReportPreview preview(none);
        QCOMPARE(previewPages(preview), 0);
        QVERIFY(!preview.savePdfAction()->isEnabled());
        QVERIFY(!preview.printAction()->isEnabled());
    }

    void pdfSaveIsReported() {
        const VectorSource table = sampleTable(3);
        ReportPreview preview(table);
        QString shown;
        preview.showError = [&](QWidget*, const QString& m) { shown = m; };
        preview.chooseFile = [](QWidget*) { return QString(); };
        preview.savePdfAction()->trigger();
        QVERIFY(shown.isEmpty());
        QCOMPARE(preview.statusText(), QString());
        preview.chooseFile = [](QWidget*) { return QStringLiteral("/nonexistent-dir/r.pdf"); };
        preview.savePdfAction()->trigger();
        QVERIFY2(shown.contains("/nonexistent-dir/r.pdf"), qPrintable(shown));
        QCOMPARE(preview.statusText(), "PDF not saved: " + shown);

        // a written file is named in the status line with its pages
        QTemporaryDir dir;
        preview.chooseFile = [&dir](QWidget*) { return dir.filePath("r"); };
        preview.savePdfAction()->trigger();
        QCOMPARE(preview.statusText(), "Saved 1 page as " + dir.filePath("r.pdf"));
        // printed to a file that cannot be written: the reason is shown
        shown.clear();
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QStringLiteral("/nonexistent-dir/p.pdf"));
        QCOMPARE(preview.print(printer), 0);
        QVERIFY2(shown.contains("/nonexistent-dir/p.pdf: No such file"), qPrintable(shown));
    }

    // Printing from the preview places every text where the PDF writer does, and prints only
    // the chosen pages.
    void printingMatchesThePdf() {
        const VectorSource table = sampleTable(40);
        ReportPreview preview(table);
        QTemporaryDir dir;
        QVERIFY(writeReportPdf(table, dir.filePath("written.pdf")).written);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("printed.pdf"));
        printer.setPageMargins(QMarginsF(3, 25, 3, 3), QPageLayout::Millimeter);
        preview.print(printer);
        const std::vector<PdfPage> written = readPdfWords(dir.filePath("written.pdf"));
        const std::vector<PdfPage> printed = readPdfWords(dir.filePath("printed.pdf"));
        QCOMPARE(printed.size(), written.size());
        for (std::size_t p = 0; p < written.size(); ++p) {
            QCOMPARE(printed[p].words.size(), written[p].words.size());
            for (std::size_t i = 0; i < written[p].words.size(); ++i) {
                const PdfWord& a = written[p].words[i];
                const PdfWord& b = printed[p].words[i];
                QCOMPARE(b.text, a.text);
                QVERIFY2(std::abs(a.left - b.left) < 0.05 && std::abs(a.top - b.top) < 0.05,
                         qPrintable(a.text));
            }
        }

        printer.setOutputFileName(dir.filePath("page2.pdf"));
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 2);
        preview.print(printer);
        const std::vector<PdfPage> page2 = readPdfWords(dir.filePath("page2.pdf"));
        QCOMPARE(int(page2.size()), 1);
        QVERIFY(page2[0].find("38") && !page2[0].find("37"));
    }

    // Pages 100 px tall, 10 px apart: which pages a band of the canvas reaches, and which page
    // counts as the one shown, one page a row and facing.
    void pagesInView_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<double>("top");
        QTest::addColumn<double>("height");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("shown");
        QTest::newRow("the first page") << 1 << 0.0 << 100.0 << 0 << 0 << 0;
        QTest::newRow("mostly the second") << 1 << 90.0 << 100.0 << 0 << 1 << 1;
        QTest::newRow("past the end") << 1 << 1000.0 << 500.0 << 9 << 9 << 9;
        QTest::newRow("facing, third row") << 2 << 230.0 << 100.0 << 4 << 5 << 4;
        QTest::newRow("facing, odd last page") << 2 << 440.0 << 200.0 << 6 << 8 << 8;
    }
    void pagesInView() {
        QFETCH(int, columns);
        QFETCH(double, top);
        QFETCH(double, height);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, shown);
        const PageGrid grid{columns == 1 ? 10 : 9, columns, QSizeF(70, 100), 10.0};
        QCOMPARE(grid.pagesIn(top, height), std::make_pair(first, last));
        QCOMPARE(grid.pageMostShown(top, height), shown);
    }

    void printedPageRange_data() {
        QTest::addColumn<bool>("range");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("all pages") << false << 0 << 0 << 0 << 9;
        QTest::newRow("pages 2 to 3") << true << 2 << 3 << 1 << 2;
        QTest::newRow("past the end") << true << 9 << 20 << 8 << 9;
        QTest::newRow("beyond the report") << true << 12 << 14 << 11 << 9;
    }
    void printedPageRange() {
        QFETCH(bool, range);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, first);
        QFETCH(int, last);
        QPrinter printer;
        if (range) {
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(from, to);
        }
        const auto r = ReportPreview::pageRange(printer, 10);
        QCOMPARE(r.first, first);
        QCOMPARE(r.second, last);
    }
};

QTEST_MAIN(ReportPreviewTest)
#include "tst_report_preview.moc"
