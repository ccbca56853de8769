#pragma once

#include <optional>

#include "AppOptions.h"
#include "ExitCode.h"

// The runs of the command line that need no window: usage errors, --help, --decode, --recover,
// --report and the bench without --bench. Returns the exit code when the command line was one of them,
// nothing when the window is to start with `parsed.options`.
std::optional<ExitCode> runCommandLine(int& argc, char** argv, const OptionsResult& parsed);
