#include "LineClock.h"

LineClock LineClock::system() {
    return {[] { return Steady::now(); },
            [] {
                return std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                    .count();
            }};
}
