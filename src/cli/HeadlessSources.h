#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "ExitCode.h"

class HeadlessRecorder;
class PrintingRun;

// What the PATH of --decode names, from one look at it ("-" is standard input).
enum class InputKind { StandardInput, NamedPipe, Device, Directory, File };
InputKind inputKind(const std::string& path);

// Now, in microseconds since 1970 UTC.
int64_t utcNowUs();

// The readers of --decode's input. Each feeds `run` until its input ends or the run is
// interrupted; `beforeEachByte`, when given, has the bytes decoded one at a time (the line clock
// of a recording follows them).

// A capture file, or standard input that is not the process's own: read in large pieces.
void readStream(std::istream& in, PrintingRun& run, const std::function<void()>& beforeEachByte);

// The process's standard input or a named pipe, read as the bytes arrive, each chunk timed by its
// read. The journal of a recording is kept on time while the line is quiet.
void readLive(int fd, PrintingRun& run, const std::function<void()>& beforeEachByte,
              HeadlessRecorder* recorder);

// A serial device at the speed the run's line is set to, until interrupted. A device that goes
// away is waited for under the same path, or with `once` ends the run (Failed); NotStarted when it
// cannot be opened.
ExitCode readDevice(const std::string& path, PrintingRun& run, HeadlessRecorder* recorder, bool once,
                    std::ostream& err);
