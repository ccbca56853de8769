#include "Interrupts.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> g_interrupted{false};
// SIGINT counts up: a second one ends the wait for a broker at the end. SIGTERM and SIGHUP end
// every wait.
std::atomic<int> g_interrupts{0};
std::atomic<bool> g_terminated{false};

void onInterrupt(int sig) {
    g_interrupted = true;
    if (sig == SIGINT)
        ++g_interrupts;
    else
        g_terminated = true;
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
    return [before] { return !g_terminated && g_interrupts.load() == before; };
}

// SIGINT, SIGTERM and SIGHUP (the terminal closed) end the reading, so a recording run still
// writes what it stored. The handlers are installed without restarting the call they break.
void installInterruptHandlers() {
    g_interrupted = false;
    g_interrupts = 0;
    g_terminated = false;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}
