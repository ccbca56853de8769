#include "UpdateThrottle.h"

#include <utility>

UpdateThrottle::UpdateThrottle(int periodMs, std::function<void()> show, QObject* parent)
    : QObject(parent), show_(std::move(show)) {
    timer_.setSingleShot(true);
    timer_.setInterval(periodMs);
    connect(&timer_, &QTimer::timeout, this, &UpdateThrottle::periodEnded);
}

void UpdateThrottle::changed() {
    if (timer_.isActive()) {
        waiting_ = true;
        return;
    }
    show_();
    timer_.start();
}

// What waited is shown now, and starts a period of its own: changes that keep coming are shown
// once a period, not once at its end and again at once after it.
void UpdateThrottle::periodEnded() {
    if (!waiting_) return;
    waiting_ = false;
    show_();
    timer_.start();
}
