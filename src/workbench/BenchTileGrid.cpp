#include "BenchTileGrid.h"

#include <algorithm>

#include "BenchTile.h"

BenchTileGrid::BenchTileGrid(QWidget* parent) : QWidget(parent) {
    // the scroll area asks the height for its width only of a widget whose policy says so: rows
    // beyond the view then scroll instead of being cut off
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void BenchTileGrid::addTile(BenchTile* tile, int index) {
    tile->setParent(this);
    if (index >= 0 && index < int(tiles_.size()))
        tiles_.insert(tiles_.begin() + index, tile);
    else
        tiles_.push_back(tile);
    tile->show();
    place();
    updateGeometry();
}

void BenchTileGrid::removeTile(int channelId) {
    const auto it =
        std::find_if(tiles_.begin(), tiles_.end(), [&](BenchTile* t) { return t->channelId() == channelId; });
    if (it == tiles_.end()) return;
    // The removal may come from the tile's own event (a key, its menu): it goes once that is done.
    BenchTile* gone = *it;
    gone->hide();
    gone->deleteLater();
    tiles_.erase(it);
    place();
    updateGeometry();
}

BenchTile* BenchTileGrid::tile(int channelId) const {
    for (BenchTile* t : tiles_) {
        if (t->channelId() == channelId) return t;
    }
    return nullptr;
}

// every tile as large as the largest asks to be, so the rows line up
QSize BenchTileGrid::tileSize() const {
    QSize size(0, 0);
    for (const BenchTile* t : tiles_) size = size.expandedTo(t->sizeHint());
    return size;
}

int BenchTileGrid::columnsFor(int width) const {
    const int w = tileSize().width();
    if (tiles_.empty() || w <= 0) return 1;
    return std::clamp((width + kSpacing) / (w + kSpacing), 1, int(tiles_.size()));
}

int BenchTileGrid::rowsHeight(int rows) const {
    return rows <= 0 ? 0 : rows * (tileSize().height() + kSpacing) - kSpacing;
}

int BenchTileGrid::heightForWidth(int width) const {
    const int columns = columnsFor(width);
    return rowsHeight((int(tiles_.size()) + columns - 1) / columns);
}

QSize BenchTileGrid::sizeHint() const {
    const int columns = int(tiles_.size());
    const int width = columns * (tileSize().width() + kSpacing) - kSpacing;
    return QSize(std::max(width, 0), rowsHeight(tiles_.empty() ? 0 : 1));
}

QSize BenchTileGrid::minimumSizeHint() const {
    const int columns = std::min<int>(kMinColumns, int(tiles_.size()));
    const int width = columns * (tileSize().width() + kSpacing) - kSpacing;
    return QSize(std::max(width, 0), rowsHeight(tiles_.empty() ? 0 : 1));
}

void BenchTileGrid::resizeEvent(QResizeEvent*) {
    place();
}

bool BenchTileGrid::refit() {
    if (tiles_.empty() || tileSize() == placed_) return false;
    place();
    updateGeometry();
    return true;
}

// The tiles share out the width of their row, so a full row ends at the right edge, but grow
// by no more than half: a lone tile across the whole window would put its figures far apart.
void BenchTileGrid::place() {
    if (tiles_.empty()) return;
    const int columns = columnsFor(width());
    placed_ = tileSize();
    const int h = placed_.height();
    const int shared = (width() - (columns - 1) * kSpacing) / columns;
    const int w = std::clamp(shared, tileSize().width(), tileSize().width() * 3 / 2);
    for (size_t i = 0; i < tiles_.size(); ++i) {
        const int row = int(i) / columns;
        const int column = int(i) % columns;
        tiles_[i]->setGeometry(column * (w + kSpacing), row * (h + kSpacing), w, h);
    }
}
