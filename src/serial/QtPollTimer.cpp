#include "QtPollTimer.h"

#include <QTimer>

#include <algorithm>

namespace {

// A zero period would make the timer fire whenever the event loop is idle and spin a core; a
// window timer never fires faster than this either.
constexpr unsigned kMinimumPeriodMs = 10;

}  // namespace

QtPollTimer::QtPollTimer(Callback callback) : callback_(std::move(callback)) {}

QtPollTimer::~QtPollTimer() = default;

void QtPollTimer::setTimer(unsigned id, unsigned periodMs) {
    std::unique_ptr<QTimer>& timer = timers_[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, [this] {
            if (callback_) callback_(WM_TIMER);
        });
    }
    timer->start(static_cast<int>(std::clamp<unsigned>(periodMs, kMinimumPeriodMs, 0x7FFFFFFF)));
}

void QtPollTimer::killTimer(unsigned id) {
    // The timer is stopped, not destroyed: the kill may come from inside its own tick (a receiver
    // that disconnects), and a QTimer must not be deleted while it emits.
    const auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

bool QtPollTimer::isActive(unsigned id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

int QtPollTimer::interval(unsigned id) const {
    return isActive(id) ? timers_.at(id)->interval() : 0;
}
