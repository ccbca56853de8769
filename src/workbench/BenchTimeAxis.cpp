#include "BenchTimeAxis.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kDay = 24 * kHour;
// round steps of a clock: seconds and minutes in fives and quarters, hours in thirds and quarters of a day
constexpr int64_t kSteps[] = {kSecond,      2 * kSecond,  5 * kSecond, 10 * kSecond, 15 * kSecond,
                              30 * kSecond, kMinute,      2 * kMinute, 5 * kMinute,  10 * kMinute,
                              15 * kMinute, 30 * kMinute, kHour,       2 * kHour,    3 * kHour,
                              6 * kHour,    12 * kHour,   kDay,        2 * kDay,     7 * kDay};

QString twoDigits(int v) {
    return QString::number(v).rightJustified(2, QLatin1Char('0'));
}

}  // namespace

void BenchTimeAxis::setLatest(int64_t timeMs) {
    latest_ = std::max(latest_, timeMs);
    if (follow_) end_ = latest_;
}

void BenchTimeAxis::setFollow(bool follow) {
    follow_ = follow;
    if (follow_) end_ = latest_;
}

void BenchTimeAxis::zoom(double factor, int64_t anchorMs) {
    if (!(factor > 0)) return;
    const int64_t span = std::clamp<int64_t>(std::llround(double(span_) * factor), kMinSpanMs, kMaxSpanMs);
    if (!follow_) {
        // the anchor keeps its fraction of the way across
        const double along = double(anchorMs - start()) / double(span_);
        end_ = anchorMs + std::llround((1 - along) * double(span));
    }
    span_ = span;
}

void BenchTimeAxis::pan(int64_t deltaMs) {
    follow_ = false;
    end_ += deltaMs;
}

void BenchTimeAxis::show(int64_t fromMs, int64_t toMs) {
    if (toMs < fromMs) std::swap(fromMs, toMs);
    span_ = std::clamp(toMs - fromMs, kMinSpanMs, kMaxSpanMs);
    end_ = fromMs + span_;
    follow_ = end_ >= latest_;
    if (follow_) end_ = latest_;
}

std::vector<BenchTimeAxis::Tick> BenchTimeAxis::ticks(int widthPx, int minGapPx) const {
    std::vector<Tick> result;
    if (widthPx <= 0 || span_ <= 0) return result;
    const double msPerPx = double(span_) / widthPx;
    const int64_t wanted = int64_t(std::ceil(msPerPx * std::max(minGapPx, 1)));
    const auto found =
        std::find_if(std::begin(kSteps), std::end(kSteps), [&](int64_t s) { return s >= wanted; });
    const int64_t step = found == std::end(kSteps) ? wanted : *found;
    // Steps are counted on local time, so hours and days fall on the local clock's. The offset of
    // the view's start serves the whole view.
    const int64_t offset = int64_t(clock_.at(start()).utcOffsetMin) * kMinute;
    const int64_t local0 = start() + offset;
    int64_t local = local0 / step * step;
    if (local < local0) local += step;
    for (; local - offset <= end_; local += step) {
        const LocalStamp stamp = clock_.at(local - offset);
        const int t = stamp.timeMs / 1000;
        QString label;
        if (step >= kDay || (stamp.timeMs == 0 && step >= kHour)) {
            const CivilDate date = civilDate(stamp.day);
            label = twoDigits(date.month) + QLatin1Char('-') + twoDigits(date.day);
        } else {
            label = twoDigits(t / 3600) + QLatin1Char(':') + twoDigits(t / 60 % 60);
            if (step < kMinute) label += QLatin1Char(':') + twoDigits(t % 60);
        }
        result.push_back(Tick{local - offset, label});
    }
    return result;
}

QString BenchTimeAxis::spanText(int64_t ms) {
    const int64_t s = (ms + 500) / 1000;
    const auto two = [](int64_t big, const char* bigUnit, int64_t small, const char* smallUnit) {
        QString text = QStringLiteral("%1 %2").arg(big).arg(QLatin1String(bigUnit));
        if (small > 0) text += QStringLiteral(" %1 %2").arg(small).arg(QLatin1String(smallUnit));
        return text;
    };
    if (s < 60) return QStringLiteral("%1 s").arg(s);
    if (s < 3600) return two(s / 60, "min", s % 60, "s");
    if (s < 86400) return two(s / 3600, "h", s / 60 % 60, "min");
    return two(s / 86400, "d", s / 3600 % 24, "h");
}
