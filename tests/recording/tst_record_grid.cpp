// The grid over the record table: a window of rows however long the table, the newest row current
// and in view, one update per refresh that finds new rows, and the unit column in LCD symbols.
#include <QHeaderView>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include "LcdGlyphs.h"
#include "RecordGrid.h"
#include "RecordTableModel.h"

namespace {

// Rows made up on demand, so a table of ten million costs nothing.
class FakeRows : public RecordSource {
public:
    int64_t count = 0;
    std::string unit = "V";
    std::string autoText = "AUTO";
    int64_t rowCount() const override { return count; }
    RecordRow row(int64_t i) const override {
        RecordRow r;
        r.no = static_cast<int32_t>(i + 1);
        r.timeMs = ((13 * 60 + 5) * 60 + 9) * 1000;
        r.dcAc = "DC";
        r.value = std::to_string(i);
        r.unit = unit;
        r.autoText = autoText;
        return r;
    }
};

// Counts the cells a view paints, passing each on to the delegate that draws it.
struct CellCount : QAbstractItemDelegate {
    CellCount(QAbstractItemDelegate* inner, int& count, QObject* parent)
        : QAbstractItemDelegate(parent), inner(inner), count(count) {}
    void paint(QPainter* p, const QStyleOptionViewItem& o, const QModelIndex& i) const override {
        ++count;
        inner->paint(p, o, i);
    }
    QSize sizeHint(const QStyleOptionViewItem& o, const QModelIndex& i) const override {
        return inner->sizeHint(o, i);
    }
    QAbstractItemDelegate* inner;
    int& count;
};

QString cell(const RecordGrid& g, int row, int column) {
    return g.model()->index(row, column).data().toString();
}

}  // namespace

class RecordGridTest : public QObject {
    Q_OBJECT

private slots:
    void columns();
    void newestRowCurrentInAHugeTable();
    void scrollingAndNewRows();
    void resetAfterEmptying();
    void newRowPaintsOnlyWhatChanged();
    void unitColumnInLcdSymbols();
};

void RecordGridTest::columns() {
    FakeRows rows;
    rows.count = 3;
    RecordGrid g;
    g.resize(284, 150);
    g.setSource(&rows);
    const QStringList titles = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
    const int widths[] = {39, 53, 37, 43, 36, 36};
    const Qt::Alignment align[] = {Qt::AlignLeft,  Qt::AlignHCenter, Qt::AlignHCenter,
                                   Qt::AlignRight, Qt::AlignRight,   Qt::AlignHCenter};
    QCOMPARE(g.model()->columnCount(), titles.size());
    for (int c = 0; c < titles.size(); ++c) {
        QCOMPARE(g.model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), titles[c]);
        QCOMPARE(g.view()->columnWidth(c), widths[c]);
        const auto a = g.model()->index(0, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        QCOMPARE(a & Qt::AlignHorizontal_Mask, align[c]);
    }
    QCOMPARE(cell(g, 2, 1), QStringLiteral("13:05:09"));
    QLocale::setDefault(
        QLocale(QLocale::Finnish, QLocale::Finland));  // the time as Save writes it in the text
    RecordGrid finnish;
    finnish.setSource(&rows);
    QLocale::setDefault(QLocale::system());
    QCOMPARE(cell(finnish, 2, 1), QStringLiteral("13.05.09"));
    QVERIFY(!(g.model()->flags(g.model()->index(0, 0)) & Qt::ItemIsEditable));
    // the row indicator marks the current row only
    QCOMPARE(g.model()->headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("\u25B8"));
    QCOMPARE(g.model()->headerData(1, Qt::Vertical, Qt::DisplayRole).toString(), QString());
}

void RecordGridTest::newestRowCurrentInAHugeTable() {
    FakeRows rows;
    RecordGrid g;
    g.resize(284, 150);
    g.setSource(&rows);
    g.show();
    const int64_t before = g.updates();
    rows.count = 10000000;
    g.refresh();
    QCOMPARE(g.currentRow(), rows.count - 1);
    QVERIFY(g.rowsShown() > 3 && g.rowsShown() < 12);
    QCOMPARE(g.firstShownRow() + g.rowsShown(), rows.count);
    QCOMPARE(cell(g, g.rowsShown() - 1, 0), QStringLiteral("10000000"));
    QCOMPARE(g.scrollBar()->maximum(), int(rows.count - g.rowsShown()));
    QCOMPARE(g.scrollBar()->value(), g.scrollBar()->maximum());
    QCOMPARE(g.view()->currentIndex().row(), g.rowsShown() - 1);
    // one update for the new rows, none for a refresh that finds nothing new
    QCOMPARE(g.updates(), before + 1);
    g.refresh();
    g.refresh();
    QCOMPARE(g.updates(), before + 1);
}

void RecordGridTest::scrollingAndNewRows() {
    FakeRows rows;
    rows.count = 1000;
    RecordGrid g;
    g.resize(284, 150);
    g.setSource(&rows);
    g.show();
    g.scrollBar()->setValue(10);
    QCOMPARE(g.firstShownRow(), int64_t(10));
    QCOMPARE(cell(g, 0, 0), QStringLiteral("11"));
    QCOMPARE(g.currentRow(), int64_t(999));  // scrolling alone does not move the current row
    // clicking a row makes it current
    g.view()->setCurrentIndex(g.model()->index(2, 3));
    QCOMPARE(g.currentRow(), int64_t(12));
    QCOMPARE(g.model()->headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("\u25B8"));
    // a new row becomes current and comes into view
    rows.count = 1001;
    g.refresh();
    QCOMPARE(g.currentRow(), int64_t(1000));
    QCOMPARE(g.firstShownRow() + g.rowsShown(), int64_t(1001));
    QCOMPARE(g.view()->currentIndex().column(), 3);
}

void RecordGridTest::resetAfterEmptying() {
    FakeRows rows;
    rows.count = 500;
    RecordGrid g;
    g.resize(284, 150);
    g.setSource(&rows);
    rows.count = 0;
    g.reset();
    QCOMPARE(g.rowsShown(), 0);
    QCOMPARE(g.currentRow(), int64_t(-1));
    QCOMPARE(g.scrollBar()->maximum(), 0);
    rows.count = 2;
    g.refresh();
    QCOMPARE(g.rowsShown(), 2);
    QCOMPARE(g.currentRow(), int64_t(1));
    // rows that vanish without a reset: the grid starts again from the first row
    rows.count = 1;
    g.refresh();
    QCOMPARE(g.rowsShown(), 1);
}

// A row coming in while the newest is followed paints the new row's cells and the one cell it took
// the selection from, not the whole grid nor the row above, and leaves on screen what a full
// repaint draws (also after a click on a row further up, which moves the indicator and may repaint
// all, for two rows, and on a new ground colour); each cell then shows its text as drawn in place.
void RecordGridTest::newRowPaintsOnlyWhatChanged() {
    FakeRows rows;
    rows.count = 40;
    RecordGrid g;
    g.resize(284, 150);
    g.setSource(&rows);
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QWidget* viewport = g.view()->viewport();
    int cells = 0;
    for (int c = 0; c < RecordTableModel::ColumnCount; ++c) {
        QAbstractItemDelegate* inner = g.view()->itemDelegateForColumn(c);
        if (!inner) inner = g.view()->itemDelegate();
        g.view()->setItemDelegateForColumn(c, new CellCount(inner, cells, g.view()));
    }
    struct PaintWatch : QObject {
        double pixels = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint)
                for (const QRect& r : static_cast<QPaintEvent*>(e)->region())
                    pixels += double(r.width()) * r.height();
            return false;
        }
    } watch;
    auto onScreen = [&] { return g.screen()->grabWindow(g.winId()).toImage(); };
    QTableView* view = g.view();
    QPalette pal = view->palette();
    for (int step = 0; step < 6; ++step) {
        if (step == 3) view->setCurrentIndex(g.model()->index(1, 2));
        if (step == 5) {
            pal.setColor(QPalette::Base, Qt::white);
            view->setPalette(pal);
        }
        QTest::qWait(250);  // apart enough to be drawn one by one
        watch.pixels = 0;
        cells = 0;
        viewport->installEventFilter(&watch);
        const int added = step == 4 ? 2 : 1;
        rows.count += added;
        g.refresh();
        QTest::qWait(50);
        viewport->removeEventFilter(&watch);
        const double painted = watch.pixels / (viewport->width() * g.view()->rowHeight(0));
        QVERIFY2(painted > 0.9 && (painted <= 4.5 || step == 3),
                 qPrintable(QString("%1: %2 rows").arg(step).arg(painted)));
        if (step != 3)
            QVERIFY2(cells == added * RecordTableModel::ColumnCount + 1,
                     qPrintable(QString("%1: %2 cells").arg(step).arg(cells)));
        const QImage partly = onScreen();
        viewport->update();
        QTest::qWait(50);
        QVERIFY2(partly == onScreen(), qPrintable(QStringLiteral("step %1").arg(step)));
    }
    const QImage shown = onScreen().convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < g.rowsShown(); ++row) {
        for (int column : {RecordTableModel::ColNo, RecordTableModel::ColTime, RecordTableModel::ColDcAc,
                           RecordTableModel::ColValue, RecordTableModel::ColAuto}) {
            const QModelIndex i = g.model()->index(row, column);
            const QRect r = view->visualRect(i);
            const bool current = view->selectionModel()->isSelected(i);
            QImage expected(r.size(), QImage::Format_RGB32);
            expected.fill(pal.color(current ? QPalette::Highlight : QPalette::Base));
            QPainter p(&expected);
            p.setFont(view->font());
            p.setPen(pal.color(current ? QPalette::HighlightedText : QPalette::Text));
            p.drawText(QRect(QPoint(0, 0), r.size()), i.data(Qt::TextAlignmentRole).toInt(),
                       i.data().toString());
            p.end();
            QVERIFY2(shown.copy(QRect(viewport->mapTo(&g, r.topLeft()), r.size())) == expected,
                     qPrintable(QStringLiteral("row %1, column %2").arg(row).arg(column)));
        }
    }
}

// "*" is the ohm sign in the LCD symbols: the unit cell shows that glyph's outline, right-aligned.
void RecordGridTest::unitColumnInLcdSymbols() {
    FakeRows rows;
    rows.count = 1;
    rows.unit = "k*";
    rows.autoText = "MANU";
    RecordGrid g;
    g.resize(284, 150);
    g.setSource(&rows);
    g.view()->clearSelection();
    g.view()->selectionModel()->clearCurrentIndex();
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QImage img = g.view()->viewport()->grab().toImage();
    // the dark pixels' span inside a cell, less its grid lines
    auto ink = [&](int column) {
        const QRect r = g.view()->visualRect(g.model()->index(0, column)).adjusted(0, 1, -1, -1);
        int left = r.right(), right = r.left();
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                if (qGray(img.pixel(x, y)) < 80) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        return std::make_tuple(r, left, right);
    };
    const auto [r, left, right] = ink(RecordTableModel::ColUnit);
    QVERIFY2(right > left, "the unit cell is empty");
    const QRectF glyphs = LcdGlyphs::textPath(QStringLiteral("k*"), 12, false).boundingRect();
    QVERIFY2(
        std::abs((right - left + 1) - glyphs.width()) <= 2,
        qPrintable(QStringLiteral("ink %1 px wide, glyphs %2").arg(right - left + 1).arg(glyphs.width())));
    QVERIFY(r.right() - right <= 4);

    // "MANU" leaves as much ink in its column as in a wide one
    const auto [a, autoLeft, autoRight] = ink(RecordTableModel::ColAuto);
    g.resize(400, 150);
    g.view()->setColumnWidth(RecordTableModel::ColAuto, 60);
    img = g.view()->viewport()->grab().toImage();
    const auto [wide, wideLeft, wideRight] = ink(RecordTableModel::ColAuto);
    QCOMPARE(autoRight - autoLeft, wideRight - wideLeft);
}

QTEST_MAIN(RecordGridTest)
#include "tst_record_grid.moc"
