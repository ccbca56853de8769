#include "BenchChart.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "BenchStripView.h"
#include "BenchStrips.h"

BenchChart::BenchChart(QWidget* parent) : QWidget(parent) {
    follow_ = new QCheckBox(tr("Follow"), this);
    follow_->setChecked(true);
    follow_->setToolTip(tr("Keep the newest readings in view"));
    whole_ = new QToolButton(this);
    whole_->setText(tr("Whole run"));
    whole_->setToolTip(tr("Show everything from the first reading on"));
    span_ = new QLabel(this);
    auto* hint = new QLabel(tr("wheel: zoom · drag: pan · double click: follow"), this);
    hint->setEnabled(false);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(follow_);
    bar->addWidget(whole_);
    bar->addSpacing(8);
    bar->addWidget(span_);
    bar->addStretch(1);
    bar->addWidget(hint);
    view_ = new BenchStripView(this);
    view_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);

    view_->onViewChanged = [this] { showState(); };
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) {
        if (on == axis_.follows()) return;
        axis_.setFollow(on);
        view_->update();
        showState();
    });
    connect(whole_, &QToolButton::clicked, this, [this] {
        if (!strips_) return;
        strips_->catchUp();
        axis_.setLatest(strips_->lastTime());
        axis_.show(strips_->firstTime(), strips_->lastTime());
        view_->update();
        showState();
    });
    // until the first reading, the axis ends now rather than in 1970
    axis_.setLatest(QDateTime::currentMSecsSinceEpoch());
    redraw_.setSingleShot(true);
    redraw_.setInterval(kRedrawMs);
    connect(&redraw_, &QTimer::timeout, this, &BenchChart::takeNewPoints);
    showState();
}

void BenchChart::setStrips(BenchStrips* strips) {
    strips_ = strips;
    view_->setSource(strips, &axis_);
    stripsChanged();
}

void BenchChart::pointsAdded() {
    if (strips_ && !redraw_.isActive()) redraw_.start();
}

// A view that does not follow changes only while the points come into it, or into the first
// point beyond its right edge, which the line runs on to.
void BenchChart::takeNewPoints() {
    const bool touchesView = axis_.follows() || axis_.latest() <= axis_.end();
    strips_->catchUp();
    axis_.setLatest(strips_->lastTime());
    if (touchesView) view_->update();
}

void BenchChart::stripsChanged() {
    if (strips_) {
        strips_->catchUp();
        axis_.setLatest(strips_->lastTime());
    }
    view_->updateGeometry();
    view_->update();
}

void BenchChart::showState() {
    follow_->setChecked(axis_.follows());
    span_->setText(BenchTimeAxis::spanText(axis_.span()));
}
