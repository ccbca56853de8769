#include "BenchStrips.h"

#include <algorithm>
#include <limits>

int BenchStrips::strip(const QString& name, const QString& unit) {
    const int found = indexOf(name);
    if (found >= 0) {
        strips_[size_t(found)].unit = unit;
        return found;
    }
    strips_.push_back(Strip{name, unit, {}});
    return size() - 1;
}

int BenchStrips::indexOf(const QString& name) const {
    for (int i = 0; i < size(); ++i) {
        if (strips_[size_t(i)].name == name) return i;
    }
    return -1;
}

void BenchStrips::remove(const QString& name) {
    const int i = indexOf(name);
    if (i >= 0) strips_.erase(strips_.begin() + i);
}

void BenchStrips::add(int strip, int64_t timeMs, double value) {
    if (strip < 0 || strip >= size()) return;
    strips_[size_t(strip)].points.add(timeMs, float(value));
    last_ = std::max(last_, timeMs);
}

void BenchStrips::addGap(int strip, int64_t timeMs) {
    if (strip < 0 || strip >= size()) return;
    strips_[size_t(strip)].points.addGap(timeMs);
    last_ = std::max(last_, timeMs);
}

void BenchStrips::clear() {
    for (Strip& s : strips_) s.points.clear();
    last_ = 0;
}

int64_t BenchStrips::firstTime() const {
    int64_t first = std::numeric_limits<int64_t>::max();
    for (const Strip& s : strips_) {
        if (s.points.size() > 0) first = std::min(first, s.points.time(0));
    }
    return first == std::numeric_limits<int64_t>::max() ? last_ : first;
}
