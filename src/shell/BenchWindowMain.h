#pragma once

#include "AppOptions.h"

// The bench window as the program's window (--bench, or meters given without anything to write):
// the bench kept from the last run, then what the command line adds, then the window until it
// is closed. Needs the QApplication; returns the exit code.
int runBenchWindow(const AppOptions& options);
