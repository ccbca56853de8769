#pragma once

#include <functional>
#include <map>
#include <memory>

#include "TCommPortDriver.h"

class QSocketNotifier;
class QTimer;

// Polls on the GUI thread: each timer set through it is a QTimer whose every tick calls the
// callback with WM_TIMER, the message the driver's polling step acts on. A timer told to rest
// stops ticking and watches the handle, a file descriptor (as PosixSerialPort hands them out),
// instead: the first byte or hang-up wakes it, and it ticks again at its period from then on (or
// at once, then at its period, for a handle that says it is readable only when a frame is whole).
class QtPollTimer : public PollTimer {
public:
    using Callback = std::function<void(unsigned message)>;

    explicit QtPollTimer(Callback callback = {});
    ~QtPollTimer() override;
    QtPollTimer(const QtPollTimer&) = delete;
    QtPollTimer& operator=(const QtPollTimer&) = delete;

    // The driver and its timer refer to each other, so the callback may be given after both exist.
    void setCallback(Callback callback) { callback_ = std::move(callback); }

    // Setting a running timer again restarts it with the new period.
    void setTimer(unsigned id, unsigned periodMs) override;
    void killTimer(unsigned id) override;
    bool restUntilReadable(unsigned id, PortHandle handle, bool tickAtOnce = false) override;

    // Running: ticking, or resting until its handle is readable.
    bool isActive(unsigned id) const;
    bool resting(unsigned id) const;
    // Period in milliseconds of a running timer, 0 when it is not running.
    int interval(unsigned id) const;

private:
    void wake(unsigned id);

    Callback callback_;
    std::map<unsigned, std::unique_ptr<QTimer>> timers_;
    std::map<unsigned, QSocketNotifier*> watchers_;
    std::map<unsigned, bool> tickAtOnce_;
};
