#pragma once

#include <QWidget>
#include <vector>

class BenchTile;

// The tiles of the bench in rows, as many a row as the width holds, all of one size. It needs
// the width of kMinColumns tiles (fewer when there are fewer), so a few channels always sit side
// by side; its height follows from its width.
class BenchTileGrid : public QWidget {
public:
    static constexpr int kMinColumns = 3;
    static constexpr int kSpacing = 6;

    explicit BenchTileGrid(QWidget* parent = nullptr);

    // At `index` among the tiles; at the end when it is out of range.
    void addTile(BenchTile* tile, int index = -1);
    // Takes the tile of that channel out; it is deleted once the event loop gets back to it.
    void removeTile(int channelId);
    const std::vector<BenchTile*>& tiles() const { return tiles_; }
    BenchTile* tile(int channelId) const;

    // Places the tiles again when one of them needs more room than they have (a longer text);
    // whether it did.
    bool refit();

    int columnsFor(int width) const;
    QSize tileSize() const;
    // the height of `rows` rows of tiles
    int rowsHeight(int rows) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    std::vector<BenchTile*> tiles_;
    QSize placed_;  // the size of each tile as last placed
};
