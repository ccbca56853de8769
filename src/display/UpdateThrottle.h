#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Shows changes that come faster than anyone reads them at a steadier pace: the first change after
// a quiet spell is shown at once, later ones at most once a period, the last of them when its
// period ends. What "showing" means is the owner's (drawing a picture, letting a widget repaint).
class UpdateThrottle : public QObject {
public:
    UpdateThrottle(int periodMs, std::function<void()> show, QObject* parent = nullptr);

    // A change would wait for the end of the current period.
    bool holding() const { return timer_.isActive(); }
    // Something changed: shown now or when the period ends.
    void changed();

private:
    void periodEnded();

    std::function<void()> show_;
    QTimer timer_;
    bool waiting_ = false;
};
