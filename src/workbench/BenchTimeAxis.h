#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "LocalClock.h"

// The one time axis all strips of the bench chart share: the stretch of wall-clock time shown,
// whether it follows the newest reading, zooming and panning, and the ticks with their labels in
// local time. Times are milliseconds since 1970 UTC.
class BenchTimeAxis {
public:
    static constexpr int64_t kMinSpanMs = 5'000;
    static constexpr int64_t kMaxSpanMs = int64_t(31) * 24 * 3600 * 1000;
    static constexpr int64_t kStartSpanMs = 60'000;

    struct Tick {
        int64_t timeMs;
        QString label;
    };

    int64_t start() const { return end_ - span_; }
    int64_t end() const { return end_; }
    int64_t span() const { return span_; }
    bool follows() const { return follow_; }

    // The newest reading's time. While following, the right edge stays on it.
    void setLatest(int64_t timeMs);
    int64_t latest() const { return latest_; }
    // Following again puts the right edge on the newest reading.
    void setFollow(bool follow);
    // Scales the span by factor (below 1 zooms in) keeping the moment `anchorMs` where it is on
    // the axis; while following, the right edge stays on the newest reading instead.
    void zoom(double factor, int64_t anchorMs);
    // Moves the view by deltaMs (positive: later) and stops following.
    void pan(int64_t deltaMs);
    // Shows [fromMs, toMs]; following goes on when the stretch reaches the newest reading.
    void show(int64_t fromMs, int64_t toMs);

    // Ticks on round local times, at least minGapPx apart on an axis widthPx wide; the labels
    // carry seconds, minutes or the date as the step needs.
    std::vector<Tick> ticks(int widthPx, int minGapPx) const;

    // a span as the chart names it: "10 s", "5 min", "2 h 30 min", "3 d 4 h"
    static QString spanText(int64_t ms);

private:
    int64_t end_ = 0;
    int64_t span_ = kStartSpanMs;
    int64_t latest_ = 0;
    bool follow_ = true;
    mutable LocalClock clock_;
};
