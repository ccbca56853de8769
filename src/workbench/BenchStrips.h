#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "BenchStripPoints.h"

// The channels of the bench chart, one strip each, in the order they are shown, with the
// earliest and latest time any of them holds.
class BenchStrips {
public:
    struct Strip {
        QString name;
        QString unit;  // the base unit the values are in ("V", "W", "Wh")
        BenchStripPoints points;
    };

    // A strip of that name, added at the end when there is none yet; its index.
    int strip(const QString& name, const QString& unit);
    int indexOf(const QString& name) const;
    void remove(const QString& name);

    void add(int strip, int64_t timeMs, double value);
    void addGap(int strip, int64_t timeMs);
    // empties every strip, keeping the strips
    void clear();

    int size() const { return int(strips_.size()); }
    const Strip& at(int i) const { return strips_[size_t(i)]; }
    Strip& at(int i) { return strips_[size_t(i)]; }
    int64_t firstTime() const;
    int64_t lastTime() const { return last_; }

private:
    std::vector<Strip> strips_;
    int64_t last_ = 0;
};
