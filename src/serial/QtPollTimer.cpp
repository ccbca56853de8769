#include "QtPollTimer.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

// A zero period would make the timer fire whenever the event loop is idle and spin a core; a
// window timer never fires faster than this either.
constexpr unsigned kMinimumPeriodMs = 10;

}  // namespace

QtPollTimer::QtPollTimer(Callback callback) : callback_(std::move(callback)) {}

QtPollTimer::~QtPollTimer() {
    for (auto& [id, watcher] : watchers_) delete watcher;
}

void QtPollTimer::setTimer(unsigned id, unsigned periodMs) {
    std::unique_ptr<QTimer>& timer = timers_[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, [this] {
            if (callback_) callback_(WM_TIMER);
        });
    }
    if (QSocketNotifier* watcher = watchers_[id]) watcher->setEnabled(false);
    timer->start(static_cast<int>(std::clamp<unsigned>(periodMs, kMinimumPeriodMs, 0x7FFFFFFF)));
}

void QtPollTimer::killTimer(unsigned id) {
    // The timer is stopped, not destroyed: the kill may come from inside its own tick (a receiver
    // that disconnects), and a QTimer must not be deleted while it emits.
    const auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
    // the handle is closed next: it must not be watched any longer
    if (QSocketNotifier* watcher = watchers_[id]) watcher->setEnabled(false);
}

bool QtPollTimer::restUntilReadable(unsigned id, PortHandle handle, bool tickAtOnce) {
    const auto it = timers_.find(id);
    if (it == timers_.end() || !it->second->isActive() || handle <= 0 || handle > 0x7FFFFFFF) return false;
    QSocketNotifier*& watcher = watchers_[id];
    if (watcher && watcher->socket() != static_cast<qintptr>(handle)) {
        // a notifier may be the one whose activation runs this: it goes once the event loop is back
        watcher->setEnabled(false);
        watcher->deleteLater();
        watcher = nullptr;
    }
    if (!watcher) {
        watcher = new QSocketNotifier(static_cast<qintptr>(handle), QSocketNotifier::Read);
        watcher->setEnabled(false);
        QObject::connect(watcher, &QSocketNotifier::activated, [this, id] { wake(id); });
    }
    it->second->stop();
    tickAtOnce_[id] = tickAtOnce;
    watcher->setEnabled(true);
    return true;
}

// The first tick comes a period after the first byte, with what came after it by then: a
// meter's frame is read whole, not its first byte alone. A descriptor that keeps saying it is
// readable (a hang-up) wakes the timer again at once, yet it still ticks once a period. A handle
// that waited for a whole frame is read at once; a tick that finds nothing there rests without
// that, so even then a descriptor stuck readable costs a tick a period, not a spinning loop.
void QtPollTimer::wake(unsigned id) {
    if (QSocketNotifier* watcher = watchers_[id]) watcher->setEnabled(false);
    timers_.at(id)->start();
    if (std::exchange(tickAtOnce_[id], false) && callback_) callback_(WM_TIMER);
}

bool QtPollTimer::resting(unsigned id) const {
    const auto it = watchers_.find(id);
    return it != watchers_.end() && it->second && it->second->isEnabled();
}

bool QtPollTimer::isActive(unsigned id) const {
    const auto it = timers_.find(id);
    return (it != timers_.end() && it->second->isActive()) || resting(id);
}

int QtPollTimer::interval(unsigned id) const {
    return isActive(id) ? timers_.at(id)->interval() : 0;
}
