#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "RecordRow.h"
#include "TimeOfDayFormat.h"

// The grid's model: a window of a few rows over the record table, however long the table is.
// The view gets at most as many rows as it can show, so its cost does not grow with the table;
// the grid's own scroll bar moves the window.
class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { ColNo, ColTime, ColDcAc, ColValue, ColUnit, ColAuto, ColumnCount };

    explicit RecordTableModel(const RecordSource& rows, QObject* parent = nullptr);

    // Shows up to `count` rows from table row `first`, clipped to the table, and marks table row
    // `current` with the row indicator. Reads the rows again even when the window is unchanged.
    // With `kept`, the view already shows the rows the window keeps at their new places (the
    // caller moved their pixels up by movedBy() rows): only the rows that came in are announced
    // as changed.
    void setWindow(int64_t first, int count, int64_t current, bool kept = false);
    // How many rows down the table setWindow(first, count, ...) moves a window that keeps its
    // size and some of its rows; 0 for any other change.
    int movedBy(int64_t first, int count) const;

    int64_t firstRow() const { return first_; }
    int64_t currentRow() const { return current_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // the time as Save writes it in the text
    TimeOfDayFormat timeFormat_{QLocale()};
    const RecordSource& rows_;
    std::vector<RecordRow> window_;
    int64_t first_ = 0;
    int64_t current_ = -1;
};
