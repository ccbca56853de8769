#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "EmbeddedServer.h"
#include "FrameTally.h"
#include "MeterState.h"
#include "ServeOptions.h"
#include "ServedChannels.h"
#include "StateReading.h"

// The page, the API, the metrics and the instrument port of a run without a window: one channel,
// the meter, fed from the run's readings on the run's thread.
class HeadlessServing {
public:
    // Serving `model` on `device`; nothing (with one line written) when an address or the token
    // cannot be used. The addresses are written when it starts.
    static std::unique_ptr<HeadlessServing> start(const ServeRequest& request, const std::string& model,
                                                  const std::string& device, std::ostream& err);

    // A completed reading, with the line's counts and the readings recorded and published so far.
    void offer(const MeterState& state, const TallyCounts& tally, uint64_t recorded, uint64_t published);

private:
    HeadlessServing() = default;

    ServedChannels channels_;
    int channel_ = -1;
    std::string model_;
    StateReading fill_;
    MeterReading reading_;
    std::unique_ptr<EmbeddedServer> server_;
};
