#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <set>

#include "BenchStrips.h"

class BenchChart;
class BenchSession;
class BenchTileGrid;
class QScrollArea;

// The bench: a tile for every channel (meters and math) over the strips of the time line. Meters
// and math channels are added from the toolbar; Reset all starts every channel's statistics
// again; Save aligned writes the channels side by side, a row a step. Everything it shows comes
// from the session's model; the window keeps nothing but what it draws.
class BenchWindow : public QMainWindow {
    Q_OBJECT

public:
    // Tiles are brought up to date at most this often: meters at the line rate would otherwise
    // redraw them thousands of times a second.
    static constexpr int kTileRefreshMs = 250;

    explicit BenchWindow(BenchSession& session, QWidget* parent = nullptr);
    ~BenchWindow() override;

    // Called after the user added or removed a channel, to keep the bench for the next run.
    std::function<void()> onBenchChanged;
    // "Triggers and alarms…" of a tile's menu, for the channel's rules.
    std::function<void(int id)> onChannelRules;

    // Shows problems met while setting up (a device that would not open, a refused expression).
    void showProblems(const QStringList& problems);

    BenchTileGrid* tiles() const { return grid_; }
    BenchChart* chart() const { return chart_; }

    void addMeter();
    void addMath();
    void saveAligned();

private:
    void channelAdded(int id);
    void channelRemoved(int id);
    void showTileMenu(int id, const QPoint& at);
    void removeChannel(int id);
    void refreshTiles();
    void fitTilesArea();
    void resizeEvent(QResizeEvent* event) override;

    BenchSession& session_;
    BenchTileGrid* grid_ = nullptr;
    QScrollArea* tilesArea_ = nullptr;
    BenchChart* chart_ = nullptr;
    BenchStrips strips_;
    std::set<int> dirty_;
    QTimer tileRefresh_;
};
