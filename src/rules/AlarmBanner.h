#pragma once

#include <QFrame>

#include "RulesEngine.h"

class QLabel;

// A band across the foot of a window (where it hides the least: the oldest rows, the time axis) that says
// when an alarm is entered or left, without taking the keyboard or stopping anything: red while an alarm it
// has shown is in force, green once the last of them is left. It stays until closed or until the next alarm
// changes it, and follows the width of the widget it lies over.
class AlarmBanner : public QFrame {
public:
    explicit AlarmBanner(QWidget* host);

    void show(const AlarmEvent& event);
    QString text() const;
    // Alarms in force among those shown.
    int active() const { return int(active_.size()); }

    // The line for an event: "Alarm hot entered at 14:02:11: 61.2 °C (value > 60 °C)".
    static QString lineFor(const AlarmEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();
    QLabel* label_;
    QStringList active_;
};
