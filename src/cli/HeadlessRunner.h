#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "AppOptions.h"
#include "MeterState.h"
#include "ModelProfiles.h"

// SIGINT, SIGTERM and SIGHUP end a run without a window: after this, interrupted() turns true
// on the first of them, and the call it broke returns.
void installInterruptHandlers();
bool interrupted();
// For the wait for a broker at the end of a run: true until another SIGINT comes after this call,
// or SIGTERM or SIGHUP.
std::function<bool()> untilInterruptedAgain();

// Decodes options.decodePath (a capture file, "-" for standard input, or a serial device) without a
// window and prints one tab-separated line per completed reading. Returns the process exit code.
int runHeadless(const AppOptions& options, std::istream& stdinStream, std::ostream& out, std::ostream& err);
