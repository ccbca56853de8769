#pragma once

#include <QTimer>
#include <QWidget>

#include "BenchTimeAxis.h"

class BenchStrips;
class BenchStripView;
class QCheckBox;
class QLabel;
class QToolButton;

// The bench's time line: the strips of all channels on one time axis, with a Follow switch, a
// button that shows the whole run and the span shown. New points are drawn at most every
// kRedrawMs; what the user does is drawn at once.
class BenchChart : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRedrawMs = 250;

    explicit BenchChart(QWidget* parent = nullptr);

    void setStrips(BenchStrips* strips);
    // Points were added: within kRedrawMs the strips take them in, the axis learns the newest
    // time, and the strips are drawn again where the points show.
    void pointsAdded();
    // Strips were added or removed: the layout changes now.
    void stripsChanged();

    BenchTimeAxis& axis() { return axis_; }
    BenchStripView* view() const { return view_; }
    QCheckBox* followBox() const { return follow_; }

private:
    void showState();
    void takeNewPoints();

    BenchStrips* strips_ = nullptr;
    BenchTimeAxis axis_;
    BenchStripView* view_ = nullptr;
    QCheckBox* follow_ = nullptr;
    QToolButton* whole_ = nullptr;
    QLabel* span_ = nullptr;
    QTimer redraw_;
};
