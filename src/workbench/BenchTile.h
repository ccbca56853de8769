#pragma once

#include <QFrame>

class BenchModel;
class QLabel;
class QPushButton;

// One channel of the bench as a tile: its name and state (online, offline, stale), the value
// large as the meter shows it, AC/DC and range mode (a math channel: its expression), the
// statistics since the last reset, and the REL value. Stale or offline, the tile is dimmed.
// Reset starts the statistics again; REL takes the latest value as the reference, and a second
// press lets it go. The tile shows what the model holds and keeps nothing itself.
// The tile takes the keyboard focus: the context-menu key asks for its menu as a right click
// does, Delete asks for its removal. What is on the menu and what removing does is the window's:
// the tile only asks, so it is never deleted while one of its own events is being handled.
class BenchTile : public QFrame {
    Q_OBJECT

public:
    BenchTile(BenchModel& model, int id, QWidget* parent = nullptr);

    int channelId() const { return id_; }
    // Reads the channel's state from the model again.
    void refresh();
    // Starts the statistics again, or takes or lets go the REL reference, as the buttons do.
    void resetStatistics();
    void toggleRel();

signals:
    void menuRequested(const QPoint& globalPos);
    void removeRequested();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // The widest a value or a line of text is drawn, in pixels: a text from outside (a name, a
    // display) may be of any length.
    static constexpr int kMostValueWidth = 420;
    static constexpr int kMostTextWidth = 420;

    QLabel* addStat(const QString& caption, int row, int column);
    void setValueText(const QString& text);

    BenchModel& model_;
    int id_;
    QLabel* name_ = nullptr;
    QLabel* state_ = nullptr;
    QLabel* value_ = nullptr;
    QLabel* mode_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* min_ = nullptr;
    QLabel* max_ = nullptr;
    QLabel* mean_ = nullptr;
    QLabel* stddev_ = nullptr;
    QLabel* rel_ = nullptr;
    QPushButton* relButton_ = nullptr;
    QPushButton* reset_ = nullptr;
    bool dimmed_ = false;
    QFont largeFont_;
    qreal basicPointSize_ = 9;
};
