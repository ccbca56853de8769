#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "LineOutput.h"
#include "Scenario.h"

namespace dmmsim {

struct RunOptions {
    std::optional<uint64_t> frames;       // unset: until stopped
    std::chrono::milliseconds interval{0};  // frame start to frame start; 0: back to back
};

// Sends the stream at line pace until `frames` frames are out, `stop` is raised or the writer
// fails. `onSent` sees every piece after it was written. Returns the frames sent.
uint64_t runPaced(ScenarioStream& stream, PacedWriter& writer, const RunOptions& options,
                  const std::atomic<bool>& stop, const std::function<void(const Emission&)>& onSent = {});

// Writes `frames` frames of the stream into a file as fast as possible.
bool writeCapture(ScenarioStream& stream, uint64_t frames, const std::string& path, std::string* error,
                  const std::function<void(const Emission&)>& onSent = {});

}  // namespace dmmsim
