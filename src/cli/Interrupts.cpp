#include "Interrupts.h"

#include <time.h>

#include <atomic>
#include <csignal>
#include <cstdint>

namespace {

std::atomic<bool> g_interrupted{false};
// SIGINT counts up: a second one ends the wait for a broker at the end. SIGTERM and SIGHUP leave
// that wait kStopGrace from the first of them (on the monotonic clock, in nanoseconds; 0: none).
std::atomic<int> g_interrupts{0};
std::atomic<int64_t> g_terminatedAtNs{0};

int64_t monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);  // safe in a signal handler
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void onInterrupt(int sig) {
    g_interrupted = true;
    if (sig == SIGINT) {
        ++g_interrupts;
    } else {
        int64_t none = 0;
        g_terminatedAtNs.compare_exchange_strong(none, monotonicNs());
    }
}

}  // namespace

bool interrupted() {
    return g_interrupted;
}

void endReading() {
    g_interrupted = true;
}

std::function<bool()> untilInterruptedAgain() {
    const int before = g_interrupts.load();
    return [before] {
        const int64_t terminatedAt = g_terminatedAtNs.load();
        if (terminatedAt != 0 && monotonicNs() - terminatedAt >= std::chrono::nanoseconds(kStopGrace).count())
            return false;
        return g_interrupts.load() == before;
    };
}

// SIGINT, SIGTERM and SIGHUP (the terminal closed) end the reading, so a recording run still
// writes what it stored. The handlers are installed without restarting the call they break.
void installInterruptHandlers() {
    g_interrupted = false;
    g_interrupts = 0;
    g_terminatedAtNs = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}
