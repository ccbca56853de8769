#pragma once

#include <functional>

// SIGINT, SIGTERM and SIGHUP end a run without a window: after this, interrupted() turns true
// on the first of them, and the call it broke returns.
void installInterruptHandlers();
bool interrupted();
// For the wait for a broker at the end of a run: true until another SIGINT comes after this call,
// or SIGTERM or SIGHUP.
std::function<bool()> untilInterruptedAgain();
