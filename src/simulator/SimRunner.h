#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "LineOutput.h"
#include "Scenario.h"

namespace dmmsim {

struct RunOptions {
    std::optional<uint64_t> frames;         // unset: until stopped
    std::chrono::milliseconds interval{0};  // frame start to frame start; 0: back to back
};

// Sends the stream at line pace until `frames` frames are out, `stop` is raised or the writer
// fails. `onSent` sees every piece after it was written. Returns the frames sent.
uint64_t runPaced(ScenarioStream& stream, PacedWriter& writer, const RunOptions& options,
                  const std::atomic<bool>& stop, const std::function<void(const Emission&)>& onSent = {});

// Writes `frames` frames of the stream into a file as fast as possible.
bool writeCapture(ScenarioStream& stream, uint64_t frames, const std::string& path, std::string* error,
                  const std::function<void(const Emission&)>& onSent = {});

// Sends the bytes of `file` (from where it stands to its end) through the writer at line pace,
// as they are: a line kept with dmmview --save-bytes goes out again as the meter sent it.
// Returns the bytes sent; `error` is set when reading the file failed.
uint64_t replayPaced(std::FILE* file, PacedWriter& writer, const std::atomic<bool>& stop, std::string* error);

// Copies the bytes of `file` into a capture file as fast as possible. A capture path that names
// the replayed file itself is refused: writing it would destroy what is being read.
bool replayCapture(std::FILE* file, const std::string& capturePath, std::string* error);

}  // namespace dmmsim
