#pragma once

#include <iosfwd>

#include "AppOptions.h"
#include "ExitCode.h"

// Decodes options.decodePath (a capture file, "-" for standard input, a named pipe or a serial
// device) without a window and prints one tab-separated line per completed reading, recording and
// publishing the readings when the options ask for it.
ExitCode runHeadless(const AppOptions& options, std::istream& stdinStream, std::ostream& out,
                     std::ostream& err);
