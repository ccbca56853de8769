#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

// Shows changes that come faster than anyone reads them at a steadier pace: the first change after
// a quiet spell is shown at once, later ones at most once a period, the last of them when its
// period ends. What "showing" means is the owner's (drawing a picture, letting a widget repaint).
// Its timer runs only while a change waits, so changes at a slower pace than the period cost no
// timer tick of their own.
class UpdateThrottle : public QObject {
public:
    UpdateThrottle(int periodMs, std::function<void()> show, QObject* parent = nullptr);

    // A change would wait for the end of the current period.
    bool holding() const { return shownAt_.isValid() && shownAt_.elapsed() < periodMs_; }
    // Something changed: shown now or when the period ends.
    void changed();

private:
    void show();

    std::function<void()> show_;
    int periodMs_;
    // since the last showing; a period runs from it
    QElapsedTimer shownAt_;
    QTimer timer_;
};
