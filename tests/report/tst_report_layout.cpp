// The printed report: pages, and where each text lands on the written PDF.
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include "RecordSnapshot.h"
#include "ReportLayout.h"
#include "ReportPdfReader.h"

namespace {

constexpr double kTolerance = 0.2;  // mm

// Tops on the paper, in mm: margin + band top + text top.
constexpr double kTitleTop = 10 + 2.12;
constexpr double kColumnTitleTop = 10 + 10.58 + 4.23;
constexpr double kFooterTop = 10 + 277 - 10.58 + 4.23;
double detailTop(int rowOnPage) {
    return 10 + 21.16 + rowOnPage * 6.61 + 2.12;
}

struct Expected {
    const char* text;
    double left;  // mm on the paper
};

const Expected kColumnTitles[] = {{"No", 18.47},     {"Time", 43.87},  {"DC/AC", 74.29},
                                  {"Value", 109.48}, {"Unit", 142.29}, {"AUTO", 172.98}};
const double kFieldLefts[] = {18.47, 43.87, 75.62, 109.48, 141.23, 172.98};

}  // namespace

class ReportLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void pageCounts_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("pages");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("one row") << 1 << 1;
        QTest::newRow("one page full") << 37 << 1;
        QTest::newRow("one row more") << 38 << 2;
        QTest::newRow("limit") << 100000 << 2703;
        QTest::newRow("limitless") << 10000000 << 270271;
    }
    void pageCounts() {
        QFETCH(int, rows);
        QFETCH(int, pages);
        QCOMPARE(ReportLayout::kRowsPerPage, 37);
        QCOMPARE(ReportLayout::pageCountFor(rows), pages);
    }

    void emptyTableWritesNoFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("empty.pdf");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier report");
        old.close();
        VectorSource none;
        const ReportPdfResult r = writeReportPdf(none, path);
        QVERIFY(!r.written);
        QVERIFY(r.error.contains("no rows"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("earlier report"));
    }

    // Every page carries title, column titles and footer at their places; the detail rows follow
    // in table order, 6.61 mm apart, each field at its column.
    void pdfPositions_data() {
        QTest::addColumn<int>("rows");
        QTest::newRow("one row") << 1;
        QTest::newRow("one page full") << 37;
        QTest::newRow("one row more") << 38;
        QTest::newRow("several pages") << 37 * 3 + 5;
    }
    void pdfPositions() {
        QFETCH(int, rows);
        const VectorSource table = sampleTable(rows);
        QTemporaryDir dir;
        const QString path = dir.filePath("report.pdf");
        const ReportPdfResult r = writeReportPdf(table, path);
        QVERIFY2(r.written, qPrintable(r.error));
        const std::vector<PdfPage> pages = readPdfWords(path);
        QCOMPARE(int(pages.size()), ReportLayout::pageCountFor(rows));

        for (std::size_t p = 0; p < pages.size(); ++p) {
            const PdfPage& page = pages[p];
            QVERIFY(std::abs(page.width - 210) < kTolerance && std::abs(page.height - 297) < kTolerance);

            const std::vector<PdfWord> title = page.lineAt(kTitleTop);
            QCOMPARE(int(title.size()), 4);
            QCOMPARE(title.front().text, QString("The"));
            QVERIFY(std::abs(title.front().top - kTitleTop) < kTolerance);
            QVERIFY(std::abs((title.front().left + title.back().right) / 2 - 105.0) < kTolerance);

            for (const Expected& e : kColumnTitles) {
                const PdfWord* w = page.find(e.text);
                QVERIFY2(w, e.text);
                QVERIFY2(std::abs(w->left - e.left) < kTolerance, e.text);
                QVERIFY2(std::abs(w->top - kColumnTitleTop) < kTolerance, e.text);
            }

            const std::vector<PdfWord> foot = page.lineAt(kFooterTop);
            QCOMPARE(int(foot.size()), 4);
            QCOMPARE(foot.front().text + foot.back().text, QString("TheFoot"));
            QVERIFY(std::abs(foot.front().left - 18.47) < kTolerance);

            const int first = int(p) * 37;
            const int onPage = std::min(37, rows - first);
            for (int k = 0; k < onPage; ++k) {
                const std::vector<PdfWord> line = page.lineAt(detailTop(k));
                const std::vector<QString> fields = reportFieldTexts(table.rows[first + k]);
                QCOMPARE(int(line.size()), 6);
                for (int f = 0; f < 6; ++f) {
                    QCOMPARE(line[f].text, fields[f]);
                    QVERIFY2(std::abs(line[f].left - kFieldLefts[f]) < kTolerance, qPrintable(fields[f]));
                    QVERIFY2(std::abs(line[f].top - detailTop(k)) < kTolerance, qPrintable(fields[f]));
                }
            }
            // nothing else between the column titles and the footer
            QVERIFY(page.lineAt(detailTop(onPage)).empty());
        }
    }

    void fieldTexts() {
        RecordRow r;
        r.no = 12;
        r.timeMs = (13 * 3600 + 5 * 60 + 9) * 1000 + 500;
        r.dcAc = "";
        r.value = "0.L";
        r.unit = "k*";
        r.autoText = "MANU";
        r.nval = 4001;
        const std::vector<QString> t = reportFieldTexts(r);
        QCOMPARE(t, (std::vector<QString>{"12", "13:05:09", "", "0.L", "k*", "MANU"}));
        QCOMPARE(recordText("\xb5"
                            "A"),
                 QString::fromUtf8("\xc2\xb5"
                                   "A"));  // not UTF-8: Latin-1
        QCOMPARE(recordText("\xc2\xb5"
                            "A"),
                 QString::fromUtf8("\xc2\xb5"
                                   "A"));
        QCOMPARE(recordTimeText(-1), QString());
        QLocale::setDefault(QLocale(QLocale::Finnish, QLocale::Finland));
        const QString finnish = recordTimeText(r.timeMs);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(finnish, QStringLiteral("13.05.09"));
    }

    // The report's font has no meter symbols: a resistance unit prints as "k" and "*". Texts
    // beyond Latin-1 (from a table written elsewhere) print too, at the same place.
    void unitsPrintAsTheirCharacters() {
        const std::vector<std::string> units = {"k*", "M*",
                                                "\xc2\xb5"
                                                "A",
                                                "k\xce\xa9"};
        VectorSource table;
        for (std::size_t i = 0; i < units.size(); ++i) {
            table.rows.push_back(sampleRow(int(i)));
            table.rows.back().unit = units[i];
        }
        QTemporaryDir dir;
        QVERIFY(writeReportPdf(table, dir.filePath("r.pdf")).written);
        const std::vector<PdfPage> pages = readPdfWords(dir.filePath("r.pdf"));
        QCOMPARE(int(pages.size()), 1);
        for (std::size_t i = 0; i < units.size(); ++i) {
            const std::vector<PdfWord> line = pages[0].lineAt(detailTop(int(i)));
            QCOMPARE(int(line.size()), 6);
            QCOMPARE(line[4].text, QString::fromStdString(units[i]));
            QVERIFY(std::abs(line[4].left - kFieldLefts[4]) < kTolerance);
            QVERIFY(std::abs(line[5].left - kFieldLefts[5]) < kTolerance);
        }
    }

    // A text too long for its place never prints past the band's right edge, 200 mm from the
    // paper's left edge.
    void longTextStaysOnTheBand() {
        VectorSource table = sampleTable(2);
        table.rows[0].autoText = std::string(80, 'W');
        table.rows[1].value = std::string(120, 'M');
        QImage paper(794, 1123, QImage::Format_RGB32);  // A4 at 96 dpi
        paper.fill(Qt::white);
        QPainter painter(&paper);
        ReportLayout(table).paintPage(painter, 0, 96, 96);
        painter.end();
        const int bandEnd = int(std::ceil(200 * 96 / 25.4));
        int inked = 0;
        for (int y = 0; y < paper.height(); ++y) {
            for (int x = 0; x < paper.width(); ++x) {
                if (qGray(paper.pixel(x, y)) < 128) {
                    ++inked;
                    QVERIFY2(x <= bandEnd, qPrintable(QString("ink at %1,%2").arg(x).arg(y)));
                }
            }
        }
        QVERIFY(inked > 0);
    }

    void cancelLeavesNoFile() {
        const VectorSource table = sampleTable(37 * 5);
        QTemporaryDir dir;
        int calls = 0;
        const ReportPdfResult r = writeReportPdf(table, dir.filePath("c.pdf"), [&](int done, int total) {
            ++calls;
            return !(done == 2 && total == 5);
        });
        QVERIFY(r.cancelled);
        QVERIFY(!r.written);
        QCOMPARE(calls, 2);
        QVERIFY(!QFile::exists(dir.filePath("c.pdf")));
    }

    // The snapshot keeps the rows of its moment while the table grows, and gives them back whole.
    void snapshotIsFrozen() {
        VectorSource table = sampleTable(50);
        table.rows[7].value = std::string("\xff\x00z", 3);
        RecordSnapshot snap;
        QVERIFY(snap.take(table));
        table.rows.push_back(sampleRow(50));
        table.rows[0].value = "changed";
        QCOMPARE(snap.rowCount(), 50);
        QCOMPARE(snap.row(0), sampleRow(0));
        QCOMPARE(snap.row(7).value, std::string("\xff\x00z", 3));
        for (int i = 1; i < 50; ++i) QCOMPARE(snap.row(i), table.rows[i]);
        QCOMPARE(snap.row(50), RecordRow());
        QCOMPARE(ReportLayout(snap).pageCount(), 2);
    }
};

QTEST_MAIN(ReportLayoutTest)
#include "tst_report_layout.moc"
