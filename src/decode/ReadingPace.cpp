#include "ReadingPace.h"

#include <algorithm>

void ReadingPace::connected(Clock::time_point now) {
    state_ = State::Open;
    last_ = now;
    framed_ = false;
}

void ReadingPace::wholeFrame(Clock::time_point now) {
    // The wait before the first frame of a connection says nothing about the meter's pace.
    if (framed_) {
        intervals_[next_] = now - last_;
        next_ = (next_ + 1) % kKept;
        kept_ = std::min(kept_ + 1, kKept);
        std::array<Clock::duration, kKept> sorted = intervals_;
        const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(kept_);
        const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(kept_ / 2);
        std::nth_element(sorted.begin(), middle, end);
        limit_ = std::max<Clock::duration>(kMinimumQuiet, *middle * kPaceFactor);
    }
    framed_ = true;
    last_ = now;
    if (state_ == State::NeverConnected) state_ = State::Open;
}

bool ReadingPace::stale(Clock::time_point now) const {
    switch (state_) {
        case State::NeverConnected:
            return false;
        case State::Closed:
            return true;
        case State::Open:
            break;
    }
    return now - last_ > quietLimit();
}

std::optional<ReadingPace::Clock::duration> ReadingPace::untilStale(Clock::time_point now) const {
    if (state_ != State::Open || stale(now)) return std::nullopt;
    return last_ + limit_ - now;
}
