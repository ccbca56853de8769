#include "BenchWindow.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <cmath>

#include "BenchChart.h"
#include "BenchPlotViews.h"
#include "BenchRecorder.h"
#include "BenchSession.h"
#include "BenchStripView.h"
#include "BenchTile.h"
#include "BenchTileGrid.h"
#include "BenchWindowDialogs.h"

namespace {

// The tiles take no more than this many rows of the window at its smallest; more scroll.
constexpr int kMinTileRows = 2;

}  // namespace

BenchWindow::BenchWindow(BenchSession& session, QWidget* parent) : QMainWindow(parent), session_(session) {
    setWindowTitle(tr("dmmview bench"));
    BenchModel& model = session_.model();

    QToolBar* bar = addToolBar(tr("Bench"));
    bar->setObjectName(QStringLiteral("BenchToolBar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addAction(tr("Add meter…"), this, &BenchWindow::addMeter)->setObjectName(QStringLiteral("AddMeter"));
    bar->addAction(tr("Add math…"), this, &BenchWindow::addMath)->setObjectName(QStringLiteral("AddMath"));
    bar->addSeparator();
    QAction* resetAll = bar->addAction(tr("Reset all"), this, [this] {
        session_.model().resetAllStatistics();
        statusBar()->showMessage(tr("Every channel's statistics and integrals start again from here"), 5000);
    });
    resetAll->setObjectName(QStringLiteral("ResetAll"));
    resetAll->setToolTip(tr("Start the statistics of every channel again, integrals included"));
    bar->addAction(tr("Save aligned…"), this, &BenchWindow::saveAligned)
        ->setObjectName(QStringLiteral("SaveAligned"));

    grid_ = new BenchTileGrid;
    tilesArea_ = new QScrollArea;
    tilesArea_->setObjectName(QStringLiteral("BenchTiles"));
    tilesArea_->setWidget(grid_);
    tilesArea_->setWidgetResizable(true);
    tilesArea_->setFrameShape(QFrame::NoFrame);
    tilesArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    chart_ = new BenchChart;
    chart_->setObjectName(QStringLiteral("BenchChart"));
    chart_->setStrips(&strips_);
    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(6, 6, 6, 0);
    column->addWidget(tilesArea_, 0);
    column->addWidget(chart_, 1);
    setCentralWidget(central);
    statusBar()->setSizeGripEnabled(true);

    connect(&model, &BenchModel::channelAdded, this, &BenchWindow::channelAdded);
    connect(&model, &BenchModel::channelRemoved, this, &BenchWindow::channelRemoved);
    connect(&model, &BenchModel::channelChanged, this, [this](int id) {
        dirty_.insert(id);
        strips_.follow(session_.model());
        chart_->stripsChanged();
    });
    connect(&model, &BenchModel::readingAdded, this, [this](int id) {
        dirty_.insert(id);
        chart_->pointsAdded();
    });
    connect(&model, &BenchModel::noteChanged, this, [this](int id) { dirty_.insert(id); });
    for (auto signal : {&BenchModel::onlineChanged, &BenchModel::staleChanged}) {
        connect(&model, signal, this, [this](int id) {
            dirty_.insert(id);
            chart_->pointsAdded();  // the line may have broken
        });
    }
    for (auto signal : {&BenchModel::statisticsReset, &BenchModel::relChanged}) {
        connect(&model, signal, this, [this](int id) { dirty_.insert(id); });
    }
    tileRefresh_.setInterval(kTileRefreshMs);
    connect(&tileRefresh_, &QTimer::timeout, this, &BenchWindow::refreshTiles);
    tileRefresh_.start();

    for (const int id : model.channelIds()) channelAdded(id);
    if (model.channelIds().isEmpty()) statusBar()->showMessage(tr("No meters yet: add one with Add meter…"));
}

BenchWindow::~BenchWindow() = default;

void BenchWindow::channelAdded(int id) {
    if (grid_->tile(id)) return;
    auto* tile = new BenchTile(session_.model(), id);
    connect(tile, &BenchTile::menuRequested, this, [this, id](const QPoint& at) { showTileMenu(id, at); });
    connect(tile, &BenchTile::removeRequested, this, [this, id] { removeChannel(id); });
    // in the model's order, as the strips are: a channel may be announced while another one's
    // announcement is still on its way (a math channel that waited for the meter just added)
    const QVector<int> order = session_.model().channelIds();
    int at = 0;
    for (const BenchTile* other : grid_->tiles()) at += order.indexOf(other->channelId()) < order.indexOf(id);
    grid_->addTile(tile, at);
    strips_.follow(session_.model());
    chart_->stripsChanged();
    fitTilesArea();
    statusBar()->clearMessage();
}

// The menu belongs to the window, not to the tile, and what was chosen is done once it has
// closed: removing a tile while a menu of its own still runs would take the menu with it.
void BenchWindow::showTileMenu(int id, const QPoint& at) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("BenchTileMenu"));
    QAction* reset = menu.addAction(tr("Reset"));
    QAction* rel = menu.addAction(tr("REL"));
    rel->setCheckable(true);
    rel->setChecked(session_.model().relReference(id).has_value());
    menu.addSeparator();
    QAction* xy = menu.addAction(tr("XY plot…"));
    QAction* histogram = menu.addAction(tr("Histogram…"));
    QAction* rules = menu.addAction(tr("Triggers and alarms…"));
    menu.addSeparator();
    QAction* remove = menu.addAction(tr("Remove"));
    remove->setShortcut(QKeySequence::Delete);
    QAction* chosen = menu.exec(at);
    BenchTile* tile = grid_->tile(id);
    if (!chosen || !tile) return;  // the channel may have gone while the menu was open
    if (chosen == reset)
        tile->resetStatistics();
    else if (chosen == rel)
        tile->toggleRel();
    else if (chosen == xy)
        openXyWindow(session_.model(), chart_->axis(), id, this);
    else if (chosen == histogram)
        openHistogramWindow(session_.model(), id, this);
    else if (chosen == rules && onChannelRules)
        onChannelRules(id);
    else if (chosen == remove)
        removeChannel(id);
}

void BenchWindow::removeChannel(int id) {
    session_.removeChannel(id);
    if (onBenchChanged) onBenchChanged();
}

void BenchWindow::channelRemoved(int id) {
    strips_.follow(session_.model());
    chart_->stripsChanged();
    grid_->removeTile(id);
    dirty_.erase(id);
    fitTilesArea();
}

void BenchWindow::refreshTiles() {
    for (const int id : dirty_) {
        if (BenchTile* tile = grid_->tile(id)) tile->refresh();
    }
    dirty_.clear();
    // a number grown wider: every tile grows with it rather than cut a digit
    if (grid_->refit()) fitTilesArea();
}

// The tiles take the rows they need at the window's width, the chart the rest. The window is
// never so small that the first tiles and every strip do not show whole: the tiles' area needs
// the width of a few tiles side by side and, at the width it has, up to kMinTileRows rows of
// them; more rows scroll.
void BenchWindow::fitTilesArea() {
    // never more than the screen holds: with many channels, the tiles scroll and the strips
    // share what is left
    const QRect screen = this->screen()->availableGeometry();
    const int scrollBar = tilesArea_->verticalScrollBar()->sizeHint().width();
    tilesArea_->setMinimumWidth(
        std::min(grid_->minimumSizeHint().width() + scrollBar, screen.width() - 4 * scrollBar));
    const int needed = grid_->heightForWidth(tilesArea_->width() - scrollBar);
    const int rows = std::min<int>(kMinTileRows, int(grid_->tiles().size()));
    tilesArea_->setMinimumHeight(std::min({needed, grid_->rowsHeight(rows), screen.height() / 2}));
    tilesArea_->setMaximumHeight(std::max(needed, 0));
    chart_->view()->setMinimumHeight(
        std::min(chart_->view()->minimumHeightFor(strips_.size()), screen.height() / 3));
}

void BenchWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // once the layout has given the tiles' area its new width
    QTimer::singleShot(0, this, &BenchWindow::fitTilesArea);
}

// A refused expression comes with a mark under its fault on the line below, so the problems are
// shown in a fixed-width font; the status bar keeps the first line of each.
void BenchWindow::showProblems(const QStringList& problems) {
    if (problems.isEmpty()) return;
    QStringList firstLines;
    for (const QString& p : problems) firstLines << p.section(QLatin1Char('\n'), 0, 0);
    statusBar()->showMessage(firstLines.join(QStringLiteral("; ")));
    QMessageBox box(QMessageBox::Warning, tr("Bench"), QString(), QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("<pre>") + problems.join(QLatin1Char('\n')).toHtmlEscaped() +
                QStringLiteral("</pre>"));
    box.exec();
}

void BenchWindow::addMeter() {
    BenchMeterDialog dialog(
        [this](const LocalMeterChoice& choice) {
            QString error;
            if (!session_.addLocalMeter(choice, &error))
                return error.isEmpty() ? tr("The meter could not be added.") : error;
            if (onBenchChanged) onBenchChanged();
            return QString();
        },
        this);
    dialog.exec();
}

void BenchWindow::addMath() {
    QStringList names;
    for (const int id : session_.model().channelIds()) names << session_.model().channel(id)->name;
    BenchMathDialog dialog(
        [this](const QString& name, const QString& expression) {
            const BenchModel::MathAdded added = session_.addMath(name, expression);
            if (added.id < 0 && !added.error.isEmpty())
                return BenchMathDialog::Refusal{added.error, added.position};
            if (onBenchChanged) onBenchChanged();
            if (added.id < 0) statusBar()->showMessage(tr("%1 waits for the channels it reads").arg(name));
            return BenchMathDialog::Refusal{};
        },
        names, this);
    dialog.exec();
}

void BenchWindow::saveAligned() {
    bool ok = false;
    const double step = QInputDialog::getDouble(this, tr("Save aligned"), tr("One row every (seconds):"), 1,
                                                0.1, 86400, 1, &ok);
    if (!ok) return;
    QString path = QFileDialog::getSaveFileName(this, tr("Save aligned"), QString(), tr("CSV files (*.csv)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
    QString error;
    const QString recording = session_.recorder() ? session_.recorder()->path() : QString();
    if (!writeAlignedCsv(session_.model(), path, std::max<qint64>(100, std::llround(step * 10) * 100), &error,
                         recording)) {
        QMessageBox::warning(this, tr("Save aligned"), tr("%1 was not written: %2").arg(path, error));
        return;
    }
    statusBar()->showMessage(tr("Saved %1").arg(path), 5000);
}
