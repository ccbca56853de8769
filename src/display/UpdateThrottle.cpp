#include "UpdateThrottle.h"

#include <algorithm>
#include <utility>

UpdateThrottle::UpdateThrottle(int periodMs, std::function<void()> show, QObject* parent)
    : QObject(parent), show_(std::move(show)), periodMs_(periodMs) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &UpdateThrottle::show);
}

void UpdateThrottle::changed() {
    if (timer_.isActive()) return;  // shown when the period ends, with whatever else comes
    if (holding()) {
        timer_.start(std::max<int>(1, periodMs_ - static_cast<int>(shownAt_.elapsed())));
        return;
    }
    show();
}

// What waited is shown, and starts a period of its own: changes that keep coming are shown once a
// period, not once at its end and again at once after it.
void UpdateThrottle::show() {
    shownAt_.start();
    show_();
}
