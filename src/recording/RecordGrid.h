#pragma once

#include <QFrame>
#include <QIcon>
#include <cstdint>
#include <memory>

#include "RecordRow.h"
#include "UpdateThrottle.h"

class QScrollBar;
class QTableView;
class RecordTableModel;

// The read-only grid of recorded readings. Its view is handed only the rows it can show (see
// RecordTableModel) and its scroll bar spans the whole table, so a table of ten million rows
// scrolls and updates as cheaply as one of ten. Columns, widths, alignments and fonts are the
// record grid's; the unit column is drawn in the LCD symbols.
class RecordGrid : public QFrame {
    Q_OBJECT

public:
    explicit RecordGrid(QWidget* parent = nullptr);
    ~RecordGrid() override;

    // The table shown; set once, before the first refresh.
    void setSource(const RecordSource* rows);

    // Brings the grid in line with the table: rows appended since the last call make the newest
    // one current and scroll it into view. Does nothing when the row count is unchanged, so it
    // is cheap to call on every polling tick.
    void refresh();
    // The table was emptied or reopened: start again from its first row.
    void reset();
    // A line shown across the grid while it has no rows, saying why none will come; empty for
    // none.
    void setEmptyNotice(const QString& text);
    QString emptyNotice() const;

    int64_t currentRow() const { return current_; }
    int64_t firstShownRow() const;
    int rowsShown() const;
    // How many times the view was handed new rows (a measure of update work).
    int64_t updates() const { return updates_; }

    QTableView* view() const { return view_; }
    RecordTableModel* model() const { return model_.get(); }
    QScrollBar* scrollBar() const { return bar_; }

    // The picture on the button that empties the table.
    static QIcon closeDataIcon();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int visibleRows() const;
    void showFrom(int64_t first);
    void moveCurrent(int64_t row);
    void selectCurrent();
    void placeNotice();
    void holdRepaints(bool hold);
    void placeBar(int64_t first, int shown);

    QTableView* view_;
    QScrollBar* bar_;
    class QLabel* notice_ = nullptr;
    QWidget* focusFrame_ = nullptr;
    const RecordSource* rows_ = nullptr;
    std::unique_ptr<RecordTableModel> model_;
    int64_t shownTotal_ = 0;
    int64_t current_ = -1;
    int currentColumn_ = 0;
    bool selecting_ = false;
    int64_t updates_ = 0;
    // Rows arrive on every polling tick; the grid is redrawn at most ten times a second while they
    // do. The model and the scroll bar follow every row at once; only their drawing waits.
    UpdateThrottle repaints_;
    bool repaintHeld_ = false;
    bool barBehind_ = false;
};
