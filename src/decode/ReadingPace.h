#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>

// Tells whether the reading on show is still live. A meter sends at its own pace, from several
// frames a second to one every few seconds; the reading counts as stale only once no whole frame
// has come for clearly longer than that pace: three times the median of the latest intervals,
// and never less than kMinimumQuiet. Before the first connection nothing is stale (the panel
// shows its start state); after the user disconnects, whatever is shown is.
class ReadingPace {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kMinimumQuiet{1500};
    static constexpr int kPaceFactor = 3;

    // The line was opened: a frame is due from now on.
    void connected(Clock::time_point now);
    // The user closed the line.
    void disconnected() { state_ = State::Closed; }
    void wholeFrame(Clock::time_point now);

    bool stale(Clock::time_point now) const;
    // How long from `now` until the reading goes stale without another frame; nothing when it is
    // stale already or cannot go stale (never connected, closed).
    std::optional<Clock::duration> untilStale(Clock::time_point now) const;
    // How long the line may stay quiet before the reading is stale.
    Clock::duration quietLimit() const { return limit_; }

private:
    enum class State { NeverConnected, Open, Closed };
    State state_ = State::NeverConnected;
    Clock::time_point last_{};
    bool framed_ = false;  // a frame came since the line was opened
    // the latest intervals between frames, oldest overwritten first
    static constexpr std::size_t kKept = 9;
    std::array<Clock::duration, kKept> intervals_{};
    std::size_t kept_ = 0;
    std::size_t next_ = 0;
    Clock::duration limit_ = kMinimumQuiet;
};
