#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

// The two clocks a meter line reads: the steady one for paces, waits and retries, and the
// calendar (UTC) one for the readings' times. Both can be replaced, so that a test drives time.
struct LineClock {
    using Steady = std::chrono::steady_clock;

    std::function<Steady::time_point()> steady;
    // microseconds since 1970 UTC
    std::function<int64_t()> utcUs;

    // The system's own clocks.
    static LineClock system();
};
