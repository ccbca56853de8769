#pragma once

// What a run of the command line tells whoever started it, as the process's exit status.
enum class ExitCode : int {
    // Everything asked was done.
    Success = 0,
    // The run went but fell short: nothing was decoded, recorded or reported, a file could not be
    // written, readings were not published, the device was lost with --once, the broker could not
    // be reached, the journal to recover or the table to report could not be read.
    Failed = 1,
    // The run did not begin: the command line is wrong, or what it names cannot be used (the
    // input of --decode cannot be read, FILE is in use or not a file, the client name is taken at
    // the broker, the bench cannot open a meter).
    NotStarted = 2,
};

// The worse of two outcomes: a run that fell short stays so whatever goes well afterwards.
constexpr ExitCode worse(ExitCode a, ExitCode b) {
    return a > b ? a : b;
}

constexpr int exitStatus(ExitCode code) {
    return static_cast<int>(code);
}
