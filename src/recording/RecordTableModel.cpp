#include "RecordTableModel.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const char* const kTitles[RecordTableModel::ColumnCount] = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
const Qt::Alignment kAlign[RecordTableModel::ColumnCount] = {
    Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignRight, Qt::AlignRight, Qt::AlignHCenter};

// the window [first, first + n) that setWindow(first, count) shows of `total` rows
std::pair<int64_t, int> clampWindow(int64_t first, int count, int64_t total) {
    first = std::clamp<int64_t>(first, 0, std::max<int64_t>(0, total - 1));
    return {first, static_cast<int>(std::clamp<int64_t>(total - first, 0, std::max(0, count)))};
}

}  // namespace

RecordTableModel::RecordTableModel(const RecordSource& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows) {}

int RecordTableModel::movedBy(int64_t first, int count) const {
    const auto [start, n] = clampWindow(first, count, rows_.rowCount());
    const int64_t moved = start - first_;
    return n == static_cast<int>(window_.size()) && moved > 0 && moved < n ? static_cast<int>(moved) : 0;
}

void RecordTableModel::setWindow(int64_t first, int count, int64_t current, bool kept) {
    const int moved = kept ? movedBy(first, count) : 0;
    const auto [start, n] = clampWindow(first, count, rows_.rowCount());
    first = start;

    // the rows kept are not read again
    std::vector<RecordRow> rows;
    rows.reserve(static_cast<std::size_t>(n));
    if (moved > 0) std::move(window_.begin() + moved, window_.end(), std::back_inserter(rows));
    for (int i = static_cast<int>(rows.size()); i < n; ++i) rows.push_back(rows_.row(first + i));

    const int before = static_cast<int>(window_.size());
    const int64_t indicatorBefore = current_ - first_;
    if (n > before) {
        beginInsertRows({}, before, n - 1);
    } else if (n < before) {
        beginRemoveRows({}, n, before - 1);
    }
    window_.swap(rows);
    first_ = first;
    current_ = current;
    if (n > before) {
        endInsertRows();
    } else if (n < before) {
        endRemoveRows();
    }
    const int common = std::min(n, before);
    if (common > 0) {
        if (moved > 0) {
            // cell by cell: a view repaints all its rows for a change of several cells
            for (int r = common - moved; r < common; ++r) {
                for (int c = 0; c < ColumnCount; ++c) emit dataChanged(index(r, c), index(r, c));
            }
        } else {
            emit dataChanged(index(0, 0), index(common - 1, ColumnCount - 1));
        }
        // The indicator is the only text of the row titles. While the newest row is followed it
        // stays on the same title; a change of titles lays out the whole view again, so it is
        // announced only when the indicator moved.
        if (current_ - first_ != indicatorBefore) emit headerDataChanged(Qt::Vertical, 0, common - 1);
    }
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(window_.size());
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(window_.size())) return {};
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(kAlign[index.column()] | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    const RecordRow& r = window_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
        case ColNo:
            return r.no;
        case ColTime:
            return timeFormat_.text(r.timeMs);
        case ColDcAc:
            return QString::fromStdString(r.dcAc);
        case ColValue:
            return QString::fromStdString(r.value);
        case ColUnit:
            return QString::fromStdString(r.unit);
        case ColAuto:
            return QString::fromStdString(r.autoText);
        default:
            return {};
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
        return section >= 0 && section < ColumnCount ? QString::fromLatin1(kTitles[section]) : QVariant();
    }
    // the row indicator: a triangle at the current row
    return first_ + section == current_ ? QStringLiteral("\u25B8") : QString();
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
