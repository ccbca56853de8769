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
class BenchTile : public QFrame {
    Q_OBJECT

public:
    BenchTile(BenchModel& model, int id, QWidget* parent = nullptr);

    int channelId() const { return id_; }
    // Reads the channel's state from the model again.
    void refresh();

private:
    QLabel* addStat(const QString& caption, int row, int column);

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
};
