#pragma once

#include <functional>

// SIGINT, SIGTERM and SIGHUP end a run without a window: after this, interrupted() turns true
// on the first of them, and the call it broke returns.
void installInterruptHandlers();
bool interrupted();
// Ends the reading as an interrupt does (the run's rules have nothing more to record).
void endReading();
// For the wait for a broker at the end of a run: true until another SIGINT comes after this call,
// or SIGTERM or SIGHUP.
std::function<bool()> untilInterruptedAgain();
