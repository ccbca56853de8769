#pragma once

#include <chrono>
#include <functional>

// SIGINT, SIGTERM and SIGHUP end a run without a window: after this, interrupted() turns true
// on the first of them, and the call it broke returns.
void installInterruptHandlers();
bool interrupted();
// Ends the reading as an interrupt does (the run's rules have nothing more to record).
void endReading();

// How long after SIGTERM or SIGHUP a run still tries to hand the broker what waits. A service
// manager's stop timeout (the logger unit's TimeoutStopSec) must leave room for it and for the
// table written before it.
constexpr std::chrono::seconds kStopGrace{10};

// For the wait for a broker at the end of a run: true until another SIGINT comes after this call,
// or until kStopGrace has passed since the first SIGTERM or SIGHUP.
std::function<bool()> untilInterruptedAgain();
